// The message owner of an application run from the command line: messages go to the terminal
// as UTF-8, the CRC question is answered by a flag or asked on the terminal.
#pragma once

#include <string>

#include "apply/message_owner.h"
#include "cli/progress_line.h"

namespace velk_cli {

enum class CrcAnswer { kAsk, kYes, kNo };

class CVELK_TerminalOwner : public CVELK_MessageOwner {
public:
    // `target` names the target in the lines about its undo journal.
    CVELK_TerminalOwner(CrcAnswer answer, bool askOnTerminal, bool showProgress, const std::string& target);

    void ShowMessage(const char16_t* text) override;
    bool AskOkCancel(const char16_t* text) override;
    void ReportProgress(VelkProgressStage stage, int64_t done, int64_t total) override;
    // Ctrl+C and the like (CatchInterrupts).
    bool StopRequested() override;
    void Notice(VelkNotice notice) override;

    // True when the CRC question was answered Cancel.
    bool Declined() const { return m_declined; }

private:
    CrcAnswer m_answer;
    bool m_askOnTerminal;
    bool m_declined = false;
    ProgressLine m_progress;
    std::string m_target;
};

// A message as the terminal shows it: UTF-8, its CR LF line ends as plain line ends.
std::string TerminalText(const std::u16string& text);

}  // namespace velk_cli
