#include "ui/patch_dialog_win32.h"

#include "apply/application.h"
#include "apply/messages.h"
#include "format/payload_locator.h"
#include "format/summary.h"
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
    switch (message) {
    case WM_COMMAND: return self->OnCommand(window, LOWORD(wParam));
    case kVelkWorkerRequest: self->OnWorkerRequest(window); return TRUE;
    case kVelkWorkerProgress: self->OnWorkerProgress(wParam, lParam); return TRUE;
    case kVelkWorkerFinished: self->OnWorkerFinished(window); return TRUE;
    default: return FALSE;
    }
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
    m_anchorName = info->AnchorName();
    m_progress.reset(new CVELKProgressDisplay(window, m_caption));
    SetDlgItemTextW(window, IDC_VELK_DESCRIPTION, WidePtr(WithWindowsLineBreaks(info->Description())));
    // The dialog selects the first edit's text when it takes the focus; undo that once it shows.
    PostMessageW(GetDlgItem(window, IDC_VELK_DESCRIPTION), EM_SETSEL, 0, 0);
    return TRUE;
}

BOOL CVELKPatchDialog::OnCommand(HWND window, WORD command)
{
    switch (command) {
    case IDC_VELK_INFO:
        ShowOwnBox(window, WidePtr(m_summary), MB_OK);
        AnswerWaitingRequest(window);
        break;
    case IDCANCEL:
        OnExitAsked(window);
        return m_exitConfirmed ? TRUE : FALSE;
    case IDC_VELK_CLOSE:
        // Owned by no window, this box holds nothing up: the worker's messages need not wait.
        MessageBoxW(nullptr, m_caption, m_caption, MB_OK);
        break;
    case IDC_VELK_APPLY:
        // The button is disabled while an application runs, but a command can still be sent.
        if (!m_choosing && !Working()) {
            m_choosing = true;
            ApplyToChosenFile(window);
            m_choosing = false;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

void CVELKPatchDialog::OnExitAsked(HWND window)
{
    // Confirmed once, the program is on its way out; there is nothing left to ask.
    if (m_exitConfirmed) return;
    // The work holds while the user decides, so that OK stops it where it stood.
    if (m_owner) m_owner->Hold();
    m_exitConfirmed = ShowOwnBox(window, Wide(velk_messages::kExitQuestion), MB_OKCANCEL) == IDOK;
    if (m_owner) m_owner->Release(m_exitConfirmed);
    // A running application is stopped first; the dialog ends when its worker has finished.
    if (m_exitConfirmed && !Working()) EndDialog(window, IDCANCEL);
    AnswerWaitingRequest(window);
}

void CVELKPatchDialog::ApplyToChosenFile(HWND window)
{
    if (!m_chooser)
        m_chooser.reset(new CVELKFileDialog_Open(kChooserFilter, m_anchorName.empty() ? nullptr : WidePtr(m_anchorName)));
    if (m_chooser->Run() != IDOK) return;
    // The user may have confirmed the exit question while the chooser was open.
    if (m_exitConfirmed) return;
    StartApplying(window, m_chooser->GetSelectedPath());
}

void CVELKPatchDialog::StartApplying(HWND window, const WideString& target)
{
    HWND apply = GetDlgItem(window, IDC_VELK_APPLY);
    // A disabled control keeps the keyboard focus and ignores the keys: move it on first.
    if (GetFocus() == apply)
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_VELK_DESCRIPTION)), TRUE);
    EnableWindow(apply, FALSE);

    m_owner.reset(new CVELKCrossThreadOwner(window));
    m_worker.reset(new CVELKApplyWorker(*m_owner, window));
    if (m_owner->Ready() && m_worker->Start(m_executablePath, target, m_payloadOffset)) return;
    m_worker.reset();
    m_owner.reset();
    ApplyHere(window, target);
    EnableWindow(apply, TRUE);
}

// Where the system cannot start the worker, the application runs on this thread: the window
// waits meanwhile, but the patch is applied all the same.
void CVELKPatchDialog::ApplyHere(HWND window, const WideString& target)
{
    CVELKMessageBoxOwner owner(window, m_caption);
    std::unique_ptr<CVELK_IPS_IN> application(new CVELK_IPS_IN(owner));
    application->ApplyPatch(WidePtr(m_executablePath), WidePtr(target), m_payloadOffset);
}

void CVELKPatchDialog::OnWorkerRequest(HWND window)
{
    if (m_ownBoxesOpen > 0) {
        m_requestWaiting = true;
        return;
    }
    m_requestWaiting = false;
    if (!m_owner) return;
    const CVELKCrossThreadOwner::Request& request = m_owner->Pending();
    // After a confirmed exit the CRC question is not put: declining it changes nothing, which
    // is what the user asked for. A message still says what became of the file.
    if (request.question && m_exitConfirmed) {
        m_owner->Answer(false);
        return;
    }
    CVELKMessageBoxOwner boxes(window, m_caption);
    bool ok = true;
    if (request.question)
        ok = boxes.AskOkCancel(request.text);
    else
        boxes.ShowMessage(request.text);
    m_owner->Answer(ok);
}

void CVELKPatchDialog::OnWorkerProgress(WPARAM stage, LPARAM percent)
{
    if (Working()) m_progress->Show({static_cast<VelkProgressStage>(stage), static_cast<int>(percent)});
}

void CVELKPatchDialog::OnWorkerFinished(HWND window)
{
    // The thread has only its last steps left: this wait is short.
    m_worker.reset();
    m_owner.reset();
    m_progress->End();
    EnableWindow(GetDlgItem(window, IDC_VELK_APPLY), TRUE);
    if (m_exitConfirmed) EndDialog(window, IDCANCEL);
}

int CVELKPatchDialog::ShowOwnBox(HWND owner, const wchar_t* text, UINT type)
{
    ++m_ownBoxesOpen;
    const int answer = MessageBoxW(owner, text, m_caption, type);
    --m_ownBoxesOpen;
    return answer;
}

void CVELKPatchDialog::AnswerWaitingRequest(HWND window)
{
    if (m_requestWaiting) OnWorkerRequest(window);
}
