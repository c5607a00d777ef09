#include "ui/patch_dialog_win32.h"

#include "payload/drav_info.h"
#include "payload/ips_in.h"
#include "payload/messages.h"
#include "payload/payload_locator.h"
#include "resources/resource_ids.h"
#include "ui/line_breaks.h"
#include "ui/message_box_owner_win32.h"

namespace {

constexpr const wchar_t* kChooserFilter = L"要打补丁的文件|*.*||";

const wchar_t* Wide(const char16_t* text)
{
    return reinterpret_cast<const wchar_t*>(text);
}

}  // namespace

CVELKPatchDialog::CVELKPatchDialog(HINSTANCE instance) : m_instance(instance)
{
    LoadStringW(instance, IDS_VELK_CAPTION, m_caption, kCaptionUnits);
}

INT_PTR CVELKPatchDialog::Run()
{
    return DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_VELK_PATCH), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CVELKPatchDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return reinterpret_cast<CVELKPatchDialog*>(lParam)->OnInitDialog(window);
    }
    auto* self = reinterpret_cast<CVELKPatchDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    if (message == WM_COMMAND) return self->OnCommand(window, LOWORD(wParam));
    return FALSE;
}

BOOL CVELKPatchDialog::OnInitDialog(HWND window)
{
    HICON bigIcon = LoadIconW(m_instance, MAKEINTRESOURCEW(IDI_VELK_PATCH));
    // The 16 x 16 image where one exists, rather than the large one scaled down.
    HICON smallIcon = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(IDI_VELK_PATCH), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON),
                                                    GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon ? smallIcon : bigIcon));
    SetWindowTextW(window, m_caption);

    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A path that filled the buffer was cut short.
    bool ready = length != 0 && length < MAX_PATH;
    // The summary's description buffer is large; keep it off the stack.
    std::unique_ptr<CQM_DravInfo> info(new CQM_DravInfo());
    if (ready) {
        m_payloadOffset = FindPayloadOffset(path);
        ready = info->ReadInfo(path, m_payloadOffset);
    }
    if (!ready) {
        MessageBoxW(window, Wide(velk_messages::kInitFailed), m_caption, MB_OK);
        EndDialog(window, kInitFailedResult);
        return TRUE;
    }

    m_executablePath = ToWideString(path);
    m_summary = info->FormatSummary();
    SetDlgItemTextW(window, IDC_VELK_DESCRIPTION, WidePtr(WithWindowsLineBreaks(info->Description())));
    // The dialog selects the first edit's text when it takes the focus; undo that once it shows.
    PostMessageW(GetDlgItem(window, IDC_VELK_DESCRIPTION), EM_SETSEL, 0, 0);
    return TRUE;
}

BOOL CVELKPatchDialog::OnCommand(HWND window, WORD command)
{
    switch (command) {
    case IDC_VELK_INFO:
        MessageBoxW(window, WidePtr(m_summary), m_caption, MB_OK);
        break;
    case IDCANCEL:
        if (MessageBoxW(window, Wide(velk_messages::kExitQuestion), m_caption, MB_OKCANCEL) == IDOK) {
            m_exitConfirmed = true;
            EndDialog(window, IDCANCEL);
            return TRUE;
        }
        break;
    case IDC_VELK_CLOSE:
        MessageBoxW(nullptr, m_caption, m_caption, MB_OK);
        break;
    case IDC_VELK_APPLY:
        if (!m_applying) {
            m_applying = true;
            ApplyToChosenFile(window);
            m_applying = false;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

void CVELKPatchDialog::ApplyToChosenFile(HWND window)
{
    if (!m_chooser) m_chooser.reset(new CVELKFileDialog_Open(kChooserFilter, nullptr));
    if (m_chooser->Run() != IDOK) return;
    // The user may have confirmed the exit question while the chooser was open.
    if (m_exitConfirmed) return;

    const WideString target = m_chooser->GetSelectedPath();
    CVELKMessageBoxOwner owner(window, m_caption);
    std::unique_ptr<CVELK_IPS_IN> application(new CVELK_IPS_IN(owner));
    application->ApplyPatch(WidePtr(m_executablePath), WidePtr(target), m_payloadOffset);
}
