// The one walk over the record stream that the checking, journal, reserving and writing passes
// of an application share, so that they cannot disagree on what a stream means.
#pragma once

#include <cstdint>

#include "apply/outcome.h"
#include "apply/pacer.h"
#include "format/record_stream.h"

// Goes through the records from where `input` stands to the end record. Each record goes to
// `visit(position, delivered)`, its data in `work` where `keepData` says so; anything but kGoOn
// from it ends the walk. With a pacer, the progress is shown now and then, `total` being the
// stream's bytes, and a stop asked for ends the walk with kStopped. Returns kGoOn at the end
// record, or what ended the walk: a record's fault, the stop, or the visit's outcome.
template <class Visit>
VelkOutcome WalkRecords(CVELK_ReadAhead& input, uint8_t* work, bool keepData, CVELK_StagePacer* pacer, int64_t total,
                        Visit&& visit)
{
    CVELK_RecordReader reader(input, work);
    for (uint32_t count = 0;; ++count) {
        if (pacer && pacer->BetweenRecords(count, input.Consumed(), total)) return VelkOutcome::kStopped;
        switch (reader.Next(keepData)) {
        case RecordStatus::kEnd: return VelkOutcome::kGoOn;
        case RecordStatus::kFault: return OutcomeOf(reader.Fault());
        case RecordStatus::kRecord: break;
        }
        const VelkOutcome outcome = visit(reader.Position(), reader.Delivered());
        if (outcome != VelkOutcome::kGoOn) return outcome;
    }
}
