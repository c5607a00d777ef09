// What the engine needs from its front end: one OK message, one OK/Cancel question, and
// (optionally) a place to show progress. The Windows program shows message boxes, the command
// line prints to the terminal, tests record.
#pragma once

#include <cstdint>

enum class VelkProgressStage { kCrc, kRecords };

// What the engine may mention besides an outcome.
enum class VelkNotice {
    kNoUndoJournal,        // none could be written beside the target: patching without one
    kRestoredInterrupted,  // an interrupted application was undone before this one began
    kUndoKept,             // the target is already patched, and the journal kept beside it can undo that
};

class CVELK_MessageOwner {
public:
    virtual ~CVELK_MessageOwner() {}
    virtual void ShowMessage(const char16_t* text) = 0;
    // True only when the user answered OK.
    virtual bool AskOkCancel(const char16_t* text) = 0;
    // Called now and then during long work; `total` may be 0 when unknown.
    virtual void ReportProgress(VelkProgressStage, int64_t /*done*/, int64_t /*total*/) {}
    // Polled by the engine during long work, possibly from another thread than the one that
    // asks: true asks it to stop as soon as it safely can.
    virtual bool StopRequested() { return false; }
    // Not an outcome and never a question: what the owner makes of it (the patch program shows
    // only that no undo journal could be written) is its own affair; by default, nothing.
    virtual void Notice(VelkNotice) {}
};
