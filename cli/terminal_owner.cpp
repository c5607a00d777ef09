#include "cli/terminal_owner.h"

#include "apply/messages.h"
#include "cli/platform.h"
#include "format/payload_text.h"

namespace velk_cli {

std::string TerminalText(const std::u16string& text)
{
    std::u16string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
        plain += text[i];
    }
    return Utf16ToUtf8(plain);
}

CVELK_TerminalOwner::CVELK_TerminalOwner(CrcAnswer answer, bool askOnTerminal, bool showProgress,
                                         const std::string& target)
    : m_answer(answer), m_askOnTerminal(askOnTerminal), m_progress(showProgress), m_target(target)
{
}

void CVELK_TerminalOwner::ShowMessage(const char16_t* text)
{
    m_progress.Clear();
    // Success is the result a script reads; every other message explains a failure.
    const std::u16string message(text);
    const bool success = message == velk_messages::kSuccess || message == velk_messages::kAlreadyPatched ||
                         message == velk_messages::kRestored;
    const Stream stream = success ? Stream::kOut : Stream::kErr;
    WriteText(stream, TerminalText(message) + "\n");
}

bool CVELK_TerminalOwner::AskOkCancel(const char16_t* text)
{
    m_progress.Clear();
    const std::string question = TerminalText(text) + " [y/N] ";
    bool ok = false;
    if (m_answer != CrcAnswer::kAsk) {
        ok = m_answer == CrcAnswer::kYes;
        WriteText(Stream::kErr, question + (ok ? "y (--yes)\n" : "n (--no)\n"));
    } else if (m_askOnTerminal) {
        WriteText(Stream::kErr, question);
        std::string line;
        if (ReadTerminalLine(&line) && !Interrupted()) {
            const std::string word = line.substr(0, line.find_first_of(" \t"));
            ok = word == "y" || word == "Y" || word == "yes" || word == "Yes" || word == "YES" || word == "ok" ||
                 word == "OK";
        } else {
            WriteText(Stream::kErr, "\n");
        }
    } else {
        WriteText(Stream::kErr, question + "n\nvelkpatch: no terminal to answer on; pass --yes to patch anyway\n");
    }
    m_declined = !ok;
    return ok;
}

void CVELK_TerminalOwner::ReportProgress(VelkProgressStage stage, int64_t done, int64_t total)
{
    if (stage == VelkProgressStage::kCrc)
        m_progress.Show("Checking the CRC-32 of the target", done, total);
    else
        m_progress.Show("Writing records", done, total);
}

bool CVELK_TerminalOwner::StopRequested()
{
    return Interrupted();
}

void CVELK_TerminalOwner::Notice(VelkNotice notice)
{
    m_progress.Clear();
    const std::string target = "'" + m_target + "'";
    switch (notice) {
    case VelkNotice::kNoUndoJournal:
        WriteText(Stream::kErr, "velkpatch: cannot write " + target.substr(0, target.size() - 1) +
                                    ".velk-undo'; patching without an undo journal\n");
        break;
    case VelkNotice::kRestoredInterrupted:
        WriteText(Stream::kErr, "velkpatch: restored " + target + " from an interrupted apply before patching\n");
        break;
    case VelkNotice::kUndoKept:
        WriteText(Stream::kErr, "velkpatch: " + target.substr(0, target.size() - 1) +
                                    ".velk-undo' keeps the original: 'velkpatch undo' takes this patch back\n");
        break;
    }
}

}  // namespace velk_cli
