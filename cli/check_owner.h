// The message owner of velkpatch check: the message an application would show is kept for the
// one line check prints, and the CRC question is noted and answered OK, so that the rest of the
// patch is examined too. Nothing is written either way: the target is open only for reading.
#pragma once

#include <string>

#include "apply/message_owner.h"
#include "cli/platform.h"
#include "cli/progress_line.h"

namespace velk_cli {

class CVELK_CheckOwner : public CVELK_MessageOwner {
public:
    explicit CVELK_CheckOwner(bool showProgress) : m_progress(showProgress) {}

    void ShowMessage(const char16_t* text) override { m_message = text; }
    bool AskOkCancel(const char16_t* text) override
    {
        m_asked = true;
        // The CRC question's last line is the question; any line above it says why.
        const std::u16string question(text);
        const size_t lastLine = question.rfind(u'\n');
        if (lastLine != std::u16string::npos) m_reason = question.substr(0, lastLine);
        return true;
    }
    void ReportProgress(VelkProgressStage, int64_t, int64_t) override
    {
        m_progress.Show("Checking the CRC-32 of the target", 0, 0);
    }
    bool StopRequested() override { return Interrupted(); }

    void ClearProgress() { m_progress.Clear(); }
    // The message an application would have ended with; empty when none.
    const std::u16string& Message() const { return m_message; }
    // Whether an application would have asked the CRC question.
    bool Asked() const { return m_asked; }
    // What the question said above it of why the target is not the expected file; empty when
    // nothing is known.
    const std::u16string& Reason() const { return m_reason; }

private:
    std::u16string m_message;
    std::u16string m_reason;
    bool m_asked = false;
    ProgressLine m_progress;
};

}  // namespace velk_cli
