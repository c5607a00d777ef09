// The engine's messages as message boxes owned by the dialog, with the program's caption.
#pragma once

#include <windows.h>

#include "apply/message_owner.h"

class CVELKMessageBoxOwner : public CVELK_MessageOwner {
public:
    CVELKMessageBoxOwner(HWND window, const wchar_t* caption) : m_window(window), m_caption(caption) {}

    void ShowMessage(const char16_t* text) override;
    bool AskOkCancel(const char16_t* text) override;
    void Notice(VelkNotice notice) override;

private:
    HWND m_window;
    const wchar_t* m_caption;
};
