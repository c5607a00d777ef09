#include "ui/message_box_owner_win32.h"

#include "apply/messages.h"

// wchar_t is UTF-16 on Windows, so the engine's texts go to the platform as they are.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

void CVELKMessageBoxOwner::ShowMessage(const char16_t* text)
{
    MessageBoxW(m_window, reinterpret_cast<const wchar_t*>(text), m_caption, MB_OK);
}

bool CVELKMessageBoxOwner::AskOkCancel(const char16_t* text)
{
    return MessageBoxW(m_window, reinterpret_cast<const wchar_t*>(text), m_caption, MB_OKCANCEL) == IDOK;
}

// The one notice the user hears of: before anything is written, that it cannot be undone.
void CVELKMessageBoxOwner::Notice(VelkNotice notice)
{
    if (notice == VelkNotice::kNoUndoJournal) ShowMessage(velk_messages::kNoUndoJournal);
}
