// End-to-end driver for the patch program. It builds real patches (velkstub.exe with a payload
// appended by the payload writer), starts them, finds their windows and presses their buttons
// through the Win32 API, the way a user would, and checks what the windows show and what
// happens to the files. Every wait has a deadline; a patch process still running when its
// scenario ends is killed.
//
// Usage: velk_e2e_driver <velkstub.exe> <work folder> [<screenshot folder>]
// Exit code: 0 when every scenario passed.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "apply/messages.h"
#include "crc/crc32.h"
#include "file/velk_file.h"
#include "format/extension_block.h"
#include "format/payload_locator.h"
#include "file/memory_file.h"
#include "maker/payload_writer.h"
#include "maker/set_writer.h"
#include "resources/resource_ids.h"

namespace {

constexpr DWORD kWaitMs = 20000;  // Wine starts a process in a second or two; leave room
constexpr DWORD kSendTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;
constexpr int kMessageBoxTextId = 0xFFFF;
const wchar_t* const kCaption = L"DRAV补丁程序 3.0.2010.11250";
const std::u16string kDescription = u"汉化补丁 v1.0\n请先备份原始镜像。\nSecond line, ASCII.";

// The long application: a sparse image large enough that its CRC check takes seconds, and
// records that take a while to write. They go round a few places far apart, so that each one
// costs a write of its own while the image stays sparse: records in fresh places would each
// make the file system allocate a block, hundreds of megabytes in all.
constexpr int64_t kLargeImageBytes = int64_t{8} << 30;
constexpr uint32_t kLongRecords = 100000;
constexpr uint32_t kLongRecordPlaces = 16;
// The dialog must answer within this at every moment of an application.
constexpr DWORD kMaxStallMs = 300;
constexpr DWORD kProbeMs = 50;
// How long a confirmed exit may take to end the program while it works: the work stops at
// once, but what was written is undone and flushed to the disk first, which a busy disk can
// hold up for seconds.
constexpr DWORD kExitWithinMs = 10000;

std::wstring W(const char16_t* text)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(text));
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

// ---- files ----

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return bytes;
}

uint32_t Crc(const std::vector<uint8_t>& bytes)
{
    return velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size()) ^ 0xFFFFFFFFu;
}

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeCreateTruncate, kShareNone)) return false;
    return bytes.empty() || file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())) == bytes.size();
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path)
{
    CVELK_File file;
    std::vector<uint8_t> bytes;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareReadWrite)) return bytes;
    const int64_t size = file.GetSize();
    if (size <= 0) return bytes;
    bytes.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
        const uint32_t got = file.Read(bytes.data() + done, static_cast<uint32_t>(bytes.size() - done));
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

// A sparse file of `size` bytes, zeros but for a mark at each end, made in an instant whatever
// the size.
const uint8_t kImageMark[4] = {'I', 'M', 'G', '!'};
bool WriteSparseImage(const std::wstring& path, int64_t size)
{
    CVELK_File file;
    return file.OpenFile(path.c_str(), kModeCreateTruncate, kShareNone) && file.SetSize(size) && file.Seek(0) &&
           file.Write(kImageMark, 4) == 4 && file.Seek(size - 4) && file.Write(kImageMark, 4) == 4;
}

// The CRC-32 of that image, computed in memory rather than by reading gigabytes of holes.
uint32_t SparseImageCrc(int64_t size)
{
    static const std::vector<uint8_t> zeros(1u << 20);
    const velk_crc32::ExtendFunction extend = velk_crc32::BestExtend();
    uint32_t state = extend(0xFFFFFFFFu, kImageMark, 4);
    for (int64_t left = size - 8; left > 0; left -= static_cast<int64_t>(zeros.size()))
        state = extend(state, zeros.data(), static_cast<size_t>(std::min<int64_t>(left, zeros.size())));
    return extend(state, kImageMark, 4) ^ 0xFFFFFFFFu;
}

// The record of the long application at `index`: 4 bytes that are never all zero.
uint64_t LongRecordPosition(uint32_t index)
{
    const uint32_t place = index % kLongRecordPlaces;
    return static_cast<uint64_t>(place) * (kLargeImageBytes / kLongRecordPlaces) + 4096 + place * 7;
}
uint32_t LongRecordData(uint32_t index)
{
    return 0x80000000u | (index * 2654435761u >> 1);
}

// The size and CRC-32 of a file, which together tell a changed large file from the one it was.
struct Fingerprint {
    int64_t size = -1;
    uint32_t crc = 0;
    bool operator==(const Fingerprint& other) const { return size == other.size && crc == other.crc; }
};
Fingerprint FingerprintOf(const std::wstring& path)
{
    CVELK_File file;
    Fingerprint print;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareReadWrite)) return print;
    print.size = file.GetSize();
    print.crc = file.GetCrc32();
    return print;
}


// How many of the long application's places hold the last record written there.
uint32_t CountLongRecords(const std::wstring& path)
{
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareReadWrite)) return 0;
    uint32_t found = 0;
    for (uint32_t i = kLongRecords - kLongRecordPlaces; i < kLongRecords; ++i) {
        uint32_t data = 0;
        if (file.Seek(static_cast<int64_t>(LongRecordPosition(i))) && file.Read(&data, 4) == 4 &&
            data == LongRecordData(i))
            ++found;
    }
    return found;
}

// The stub followed by a payload that `write` produces with the payload writer.
bool WritePatch(const std::wstring& stub, const std::wstring& patch,
                const std::function<bool(CVELK_PayloadWriter&)>& write)
{
    if (!CopyFileW(stub.c_str(), patch.c_str(), FALSE)) return false;
    CVELK_File file;
    if (!file.OpenFile(patch.c_str(), kModeReadWriteOpenAlways, kShareNone)) return false;
    CVELK_PayloadWriter writer(file);
    return write(writer);
}

// ---- windows ----

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window)
{
    if (window == nullptr) return L"<no window>";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
        return L"<no answer>";
    // Room to spare: a title may grow between the two questions (校验 99% -> 校验 100%).
    std::wstring text(length + 64, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &got);
    text.resize(got);
    return text;
}

std::wstring ChildText(HWND dialog, int id)
{
    return TextOf(GetDlgItem(dialog, id));
}

struct WindowSearch {
    DWORD processId;
    std::function<bool(HWND)> accept;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
        search->accept(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> DialogsOf(DWORD processId, const std::function<bool(HWND)>& accept)
{
    WindowSearch search{processId, accept, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsMainDialog(HWND window)
{
    return GetDlgItem(window, IDC_VELK_DESCRIPTION) != nullptr && GetDlgItem(window, IDC_VELK_APPLY) != nullptr;
}
bool IsMessageBox(HWND window)
{
    return GetDlgItem(window, kMessageBoxTextId) != nullptr && !IsMainDialog(window);
}
// The open-file dialog: neither of the others, with a file name field.
HWND FileNameField(HWND window)
{
    for (int id : {0x47C /* cmb13 */, 0x480 /* edt1 */}) {
        HWND field = GetDlgItem(window, id);
        if (field == nullptr) continue;
        if (ClassOf(field) == L"ComboBoxEx32" || ClassOf(field) == L"ComboBox") {
            HWND edit = FindWindowExW(field, nullptr, L"Edit", nullptr);
            if (edit == nullptr) {
                HWND inner = FindWindowExW(field, nullptr, L"ComboBox", nullptr);
                if (inner != nullptr) edit = FindWindowExW(inner, nullptr, L"Edit", nullptr);
            }
            return edit != nullptr ? edit : field;
        }
        return field;
    }
    return nullptr;
}
bool IsFileDialog(HWND window)
{
    return !IsMainDialog(window) && !IsMessageBox(window) && FileNameField(window) != nullptr;
}

HWND WaitForDialog(DWORD processId, const std::function<bool(HWND)>& accept, DWORD timeoutMs = kWaitMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        std::vector<HWND> found = DialogsOf(processId, accept);
        if (!found.empty()) return found.front();
        Sleep(kPollMs);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

bool WaitUntilGone(HWND window, DWORD timeoutMs = kWaitMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(kPollMs);
    }
    return true;
}

BOOL CALLBACK FindListView(HWND window, LPARAM context)
{
    if (ClassOf(window) != L"SysListView32") return TRUE;
    *reinterpret_cast<HWND*>(context) = window;
    return FALSE;
}

// The open-file dialog lists the files of the folder it shows; their number tells the folders
// of this test apart.
bool WaitForItemCount(HWND fileDialog, int expected, DWORD timeoutMs = 10000)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    int count = -1;
    do {
        HWND list = nullptr;
        EnumChildWindows(fileDialog, FindListView, reinterpret_cast<LPARAM>(&list));
        DWORD_PTR items = 0;
        if (list != nullptr &&
            SendMessageTimeoutW(list, 0x1004 /* LVM_GETITEMCOUNT */, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &items))
            count = static_cast<int>(items);
        if (count == expected) return true;
        Sleep(kPollMs);
    } while (GetTickCount64() < deadline);
    Log("   the chooser lists %d items, expected %d", count, expected);
    return false;
}

// A click as the button's parent sees it; posted, since the handler may run a modal loop.
void Press(HWND dialog, int id)
{
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// As a user does, presses the apply button once it is enabled: after an application the dialog
// enables it when its worker has ended, a moment after the last message box has closed, and a
// press before that is turned away. False when it stays disabled.
bool PressApply(HWND dialog)
{
    HWND button = GetDlgItem(dialog, IDC_VELK_APPLY);
    const ULONGLONG deadline = GetTickCount64() + kWaitMs;
    while (!IsWindowEnabled(button)) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(kPollMs);
    }
    Press(dialog, IDC_VELK_APPLY);
    return true;
}

// The Esc key, posted to whatever has the focus in the program's thread, so that the dialog
// manager turns it into IDCANCEL as it does for a real key press.
void PressEscape(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    HWND target = GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr ? info.hwndFocus : dialog;
    PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

// ---- requests to the test script ----

// Leaves `request` at `requestPath` for the test script, which watches for such files, and waits
// until the script has carried it out and removed the file. Written under another name first, so
// the script never reads half a request.
bool AskScript(const std::wstring& requestPath, const std::string& request)
{
    const std::wstring partial = requestPath + L".part";
    if (!WriteFileBytes(partial, std::vector<uint8_t>(request.begin(), request.end()))) return false;
    if (!MoveFileExW(partial.c_str(), requestPath.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    const ULONGLONG deadline = GetTickCount64() + 15000;
    while (GetFileAttributesW(requestPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() >= deadline) {
            DeleteFileW(requestPath.c_str());
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

// ---- screenshots ----

// Asks the test script, which watches the screenshot folder, to take a picture of the screen
// area around `windows` (`name`.png), and waits until it is done. Wine draws the windows into X
// windows of their own, where the X server's root window sees them and a screen DC does not.
bool SaveScreenshot(const std::wstring& folder, const std::wstring& name, const std::vector<HWND>& windows)
{
    RECT area = {};
    bool first = true;
    for (HWND window : windows) {
        RECT r;
        if (!GetWindowRect(window, &r)) continue;
        if (first) area = r;
        else UnionRect(&area, &area, &r);
        first = false;
    }
    if (first) return false;
    const int margin = 12;
    area.left = area.left > margin ? area.left - margin : 0;
    area.top = area.top > margin ? area.top - margin : 0;
    area.right += margin;
    area.bottom += margin;

    char request[64];
    const int n = std::snprintf(request, sizeof request, "%ld %ld %ld %ld\n", area.right - area.left,
                                area.bottom - area.top, area.left, area.top);
    const std::wstring requestPath = folder + L"\\" + name + L".request";
    const std::wstring picturePath = folder + L"\\" + name + L".png";
    DeleteFileW(picturePath.c_str());
    return AskScript(requestPath, std::string(request, static_cast<size_t>(n))) &&
           GetFileAttributesW(picturePath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---- the program under test ----

class PatchProcess {
public:
    PatchProcess() { m_info.hProcess = nullptr; }
    ~PatchProcess() { Kill(); }

    bool Start(const std::wstring& exe, const std::wstring& folder)
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        std::wstring commandLine = L"\"" + exe + L"\"";
        if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                            &startup, &m_info))
            return false;
        CloseHandle(m_info.hThread);
        WaitForInputIdle(m_info.hProcess, kWaitMs);
        return true;
    }
    DWORD Id() const { return m_info.dwProcessId; }

    // The exit code, or -1 when the process has not ended within the time.
    long WaitForExit(DWORD timeoutMs = kWaitMs)
    {
        if (m_info.hProcess == nullptr) return -1;
        if (WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_info.hProcess, &code);
        CloseHandle(m_info.hProcess);
        m_info.hProcess = nullptr;
        return static_cast<long>(code);
    }
    bool Running() const
    {
        return m_info.hProcess != nullptr && WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
    }

    void Kill()
    {
        if (m_info.hProcess == nullptr) return;
        TerminateProcess(m_info.hProcess, 99);
        WaitForSingleObject(m_info.hProcess, kWaitMs);
        CloseHandle(m_info.hProcess);
        m_info.hProcess = nullptr;
    }

private:
    PROCESS_INFORMATION m_info = {};
};

// ---- an application at work ----

// What the dialog's title says: the bare caption (stage 0), the check (1) or the records (2)
// with a percentage, or anything else (-1).
struct TitleProgress {
    int stage;
    int percent;
    bool operator==(const TitleProgress& other) const { return stage == other.stage && percent == other.percent; }
};

TitleProgress ParseTitle(const std::wstring& title)
{
    if (title == kCaption) return {0, 0};
    const std::wstring stages[] = {W(velk_messages::kProgressChecking), W(velk_messages::kProgressPatching)};
    for (int stage = 1; stage <= 2; ++stage) {
        for (int percent = 0; percent <= 100; ++percent) {
            if (title == std::wstring(kCaption) + L" - " + stages[stage - 1] + L" " + std::to_wstring(percent) + L"%")
                return {stage, percent};
        }
    }
    return {-1, 0};
}

// Watches the dialog of a running application: every kProbeMs it sends WM_NULL and notes how
// long the answer took, and it reads the title and notes each new text.
class WorkWatch {
public:
    WorkWatch(const PatchProcess& process, HWND dialog) : m_process(process), m_dialog(dialog) {}

    // Probes until `done` holds for the title, a message box appears or the program ends;
    // false when the time runs out first or the dialog stops answering altogether.
    bool Until(const std::function<bool(TitleProgress)>& done, DWORD timeoutMs = 60000)
    {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (GetTickCount64() < deadline) {
            const ULONGLONG sent = GetTickCount64();
            DWORD_PTR ignored = 0;
            const bool answered = SendMessageTimeoutW(m_dialog, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored) != 0;
            const DWORD waited = static_cast<DWORD>(GetTickCount64() - sent);
            ++m_probes;
            if (!answered) return false;
            const std::wstring title = TextOf(m_dialog);
            const TitleProgress progress = ParseTitle(title);
            if (waited > m_worstMs) {
                m_worstMs = waited;
                m_worstAt = progress;
            }
            if (progress.stage < 0) m_strange = title;
            if (m_seen.empty() || !(m_seen.back() == progress)) m_seen.push_back(progress);
            if (done(progress) || !DialogsOf(m_process.Id(), IsMessageBox).empty() || !m_process.Running())
                return true;
            Sleep(kProbeMs);
        }
        return false;
    }

    DWORD WorstMs() const { return m_worstMs; }
    // Where the work stood after the longest wait.
    TitleProgress WorstAt() const { return m_worstAt; }
    int Probes() const { return m_probes; }
    // Every text the title showed was the caption or the caption with progress.
    const std::wstring& Strange() const { return m_strange; }
    // Progress never went back, and the check showed a share between none and all.
    bool Rising() const
    {
        bool partWay = false;
        for (size_t i = 0; i < m_seen.size(); ++i) {
            // Through the stages in order, the percentage rising within one; the caption may
            // come back at the end.
            const TitleProgress& now = m_seen[i];
            if (i > 0 && now.stage != 0 && (now.stage < m_seen[i - 1].stage ||
                                            (now.stage == m_seen[i - 1].stage && now.percent < m_seen[i - 1].percent)))
                return false;
            if (now.stage == 1 && now.percent > 0 && now.percent < 100) partWay = true;
        }
        return partWay;
    }
    std::string Titles() const
    {
        std::string text;
        for (const TitleProgress& p : m_seen) text += std::to_string(p.stage) + ":" + std::to_string(p.percent) + " ";
        return text;
    }

private:
    const PatchProcess& m_process;
    HWND m_dialog;
    DWORD m_worstMs = 0;
    TitleProgress m_worstAt = {0, 0};
    int m_probes = 0;
    std::vector<TitleProgress> m_seen;
    std::wstring m_strange;
};

// One scenario's checks: the first failure is logged and ends the scenario.
class Scenario {
public:
    explicit Scenario(const char* name) : m_name(name) { Log("-- %s", name); }
    bool Check(bool ok, const char* what)
    {
        if (!ok) Log("   FAILED: %s", what);
        return ok;
    }
    bool Same(const std::wstring& actual, const std::wstring& expected, const char* what)
    {
        if (actual == expected) return true;
        Log("   FAILED: %s\n     expected: %s\n     actual:   %s", what, Utf8(expected).c_str(), Utf8(actual).c_str());
        return false;
    }
    const char* Name() const { return m_name; }

private:
    const char* m_name;
};

class Driver {
public:
    Driver(std::wstring stub, std::wstring work, std::wstring shots)
        : m_stub(std::move(stub)), m_work(std::move(work)), m_shots(std::move(shots))
    {
    }

    int Run()
    {
        CreateDirectoryW(m_work.c_str(), nullptr);
        CreateDirectoryW((m_work + L"\\elsewhere").c_str(), nullptr);
        CreateDirectoryW((m_work + L"\\A folder with a long name").c_str(), nullptr);
        CreateDirectoryW((m_work + L"\\three files").c_str(), nullptr);
        for (const wchar_t* name : {L"1.bin", L"2.bin", L"3.bin"})
            WriteFileBytes(m_work + L"\\three files\\" + name, {1});
        const ULONGLONG preparing = GetTickCount64();
        if (!PrepareData()) {
            Log("FAILED: could not build the patches");
            return 1;
        }
        Log("patches built in %.1f s", static_cast<double>(GetTickCount64() - preparing) / 1000.0);
        int failures = 0;
        const std::pair<const char*, bool (Driver::*)()> scenarios[] = {
            {"ready dialog, description and summary", &Driver::ReadyAndSummary},
            {"apply, reopen in the last folder, CRC question", &Driver::ApplyAndReopen},
            {"damaged payload leaves the target untouched", &Driver::DamagedPayload},
            {"the patch itself as the target", &Driver::PatchItselfAsTarget},
            {"exit question", &Driver::ExitQuestion},
            {"exit while the chooser is open", &Driver::ExitWhileChoosing},
            {"stub without payload", &Driver::StubWithoutPayload},
            {"older payload version", &Driver::OlderPayload},
            {"a signed patch", &Driver::SignedPatch},
            {"already patched, shown once", &Driver::AlreadyPatched},
            {"a set of three files in a folder of Chinese name", &Driver::SetOfThreeFiles},
            {"why not, a kept undo taken back, a long name", &Driver::WhyNotAndTakeBack},
            {"no undo journal, said before writing", &Driver::NoUndoJournal},
            {"a long application, watched", &Driver::LongApplication},
            {"exit during the CRC check", &Driver::ExitDuringCheck},
            {"exit while writing", &Driver::ExitWhileWriting},
            {"ended by force while writing, then applied again", &Driver::KilledThenAppliedAgain},
        };
        // VELK_E2E_ONLY=text runs only the scenarios whose names hold the text, VELK_E2E_SKIP=text
        // all the others.
        char only[64] = {};
        char skip[64] = {};
        GetEnvironmentVariableA("VELK_E2E_ONLY", only, sizeof only);
        GetEnvironmentVariableA("VELK_E2E_SKIP", skip, sizeof skip);
        for (const auto& scenario : scenarios) {
            if (only[0] != 0 && std::strstr(scenario.first, only) == nullptr) continue;
            if (skip[0] != 0 && std::strstr(scenario.first, skip) != nullptr) {
                Log("SKIP: %s", scenario.first);
                continue;
            }
            const ULONGLONG start = GetTickCount64();
            const bool ok = (this->*scenario.second)();
            Log("%s: %s (%.1f s)", ok ? "PASS" : "FAIL", scenario.first, static_cast<double>(GetTickCount64() - start) / 1000.0);
            if (!ok) ++failures;
        }
        Log("%d of %d scenarios failed", failures, static_cast<int>(sizeof scenarios / sizeof scenarios[0]));
        return failures == 0 ? 0 : 1;
    }

private:
    std::wstring Path(const wchar_t* name) const { return m_work + L"\\" + name; }

    bool PrepareData()
    {
        m_original = Pattern(300000, 7);
        m_records = {
            {0, {'V', 'E', 'L', 'K'}},
            {1000, std::vector<uint8_t>(5000, 0xAB)},
            {299990, Pattern(70, 3)},  // runs past the original end
            {310000, {0x11, 0x22}},
        };
        m_patched = m_original;
        m_patched.resize(310002, 0);
        for (const VelkRecord& r : m_records)
            for (size_t i = 0; i < r.data.size(); ++i) m_patched[static_cast<size_t>(r.position + i)] = r.data[i];

        const uint32_t crc = Crc(m_original);
        const int64_t patchedSize = static_cast<int64_t>(m_patched.size());
        m_goodPatch = Path(L"good patch.exe");
        bool ok = WriteRecordsPatch(m_goodPatch);
        // A record of length 0 half way: the payload is damaged after the first records.
        m_damagedPatch = Path(L"damaged.exe");
        ok = ok && WritePatch(m_stub, m_damagedPatch, [&](CVELK_PayloadWriter& w) {
            const uint8_t data[4] = {1, 2, 3, 4};
            return w.Begin(patchedSize, crc) && w.AddRecord(0, data, 4) && w.AddRelative(100, data, 0) &&
                   w.Finish(u"damaged");
        });
        m_olderPatch = Path(L"older.exe");
        ok = ok && WritePatch(m_stub, m_olderPatch, [&](CVELK_PayloadWriter& w) {
            return w.Begin(patchedSize, crc, "VELK-PATCH2.0") && w.Finish(u"older");
        });
        m_plainStub = Path(L"plain stub.exe");
        ok = ok && CopyFileW(m_stub.c_str(), m_plainStub.c_str(), FALSE);
        return ok && PrepareLongPatch();
    }

    // A patch of the usual records over the original; given the result's identity, it records
    // it in an extension block.
    bool WriteRecordsPatch(const std::wstring& patch, const VelkResultIdentity* result = nullptr)
    {
        return WritePatch(m_stub, patch, [&](CVELK_PayloadWriter& w) {
            bool good = w.Begin(static_cast<int64_t>(m_patched.size()), Crc(m_original)) &&
                        (result == nullptr || w.ReserveExtensionBlock());
            for (const VelkRecord& r : m_records)
                good = good && w.AddRecord(r.position, r.data.data(), static_cast<uint32_t>(r.data.size()));
            if (result != nullptr) w.SetResultIdentity(*result);
            return good && w.Finish(kDescription);
        });
    }

    // The image every long application starts from, and a patch that checks its CRC and then
    // writes records all through it.
    bool PrepareLongPatch()
    {
        m_largeImage = {kLargeImageBytes, SparseImageCrc(kLargeImageBytes)};
        m_longPatch = Path(L"long patch.exe");
        return WritePatch(m_stub, m_longPatch, [&](CVELK_PayloadWriter& w) {
            bool good = w.Begin(kLargeImageBytes, m_largeImage.crc);
            for (uint32_t i = 0; good && i < kLongRecords; ++i) {
                const uint32_t data = LongRecordData(i);
                good = w.AddRecord(LongRecordPosition(i), reinterpret_cast<const uint8_t*>(&data), 4);
            }
            return good && w.Finish(kDescription);
        });
    }

    static std::wstring SummaryOf(uint32_t crc, uint64_t patchedSize)
    {
        wchar_t hex[16];
        swprintf(hex, 16, L"%08X", crc);
        return std::wstring(L"补丁版本: VELK-PATCH3.0\r\n目标文件的CRC32验证: ") + hex +
               L"\r\n打补丁后的文件大小: " + std::to_wstring(patchedSize);
    }

    // Starts a patch and waits for its ready dialog.
    HWND StartReady(PatchProcess& process, const std::wstring& patch, Scenario& s)
    {
        if (!s.Check(process.Start(patch, Path(L"elsewhere")), "the patch starts")) return nullptr;
        HWND dialog = WaitForDialog(process.Id(), IsMainDialog);
        if (!s.Check(dialog != nullptr, "the ready dialog appears")) return nullptr;
        return dialog;
    }

    // Waits for a message box, checks its text and answers it with `button`.
    bool Answer(PatchProcess& process, Scenario& s, const std::wstring& expected, int button,
                const wchar_t* screenshot = nullptr, HWND also = nullptr)
    {
        HWND box = WaitForDialog(process.Id(), IsMessageBox);
        if (!s.Check(box != nullptr, "a message box appears")) return false;
        if (!s.Same(ChildText(box, kMessageBoxTextId), expected, "message text")) return false;
        if (!s.Same(TextOf(box), kCaption, "message box caption")) return false;
        if (screenshot != nullptr && !m_shots.empty()) {
            Sleep(300);  // let it paint
            std::vector<HWND> windows{box};
            if (also != nullptr) windows.push_back(also);
            s.Check(SaveScreenshot(m_shots, screenshot, windows), "screenshot saved");
        }
        Press(box, button);
        return s.Check(WaitUntilGone(box), "the message box closes");
    }

    // Presses the apply button, types `path` into the chooser and confirms it.
    bool Choose(PatchProcess& process, HWND dialog, Scenario& s, const std::wstring& path,
                std::wstring* prefilled = nullptr, bool pressTwice = false)
    {
        if (!s.Check(PressApply(dialog), "the apply button is enabled")) return false;
        HWND chooser = WaitForDialog(process.Id(), IsFileDialog);
        if (!s.Check(chooser != nullptr, "the chooser opens")) return false;
        if (pressTwice) {
            // The chooser has no owner, so the dialog can still be clicked: a second press
            // must not start a second chooser.
            Press(dialog, IDC_VELK_APPLY);
            Sleep(1500);
            if (!s.Check(DialogsOf(process.Id(), IsFileDialog).size() == 1, "a second press opens no second chooser"))
                return false;
            if (!s.Check(DialogsOf(process.Id(), IsMessageBox).empty(), "a second press shows nothing"))
                return false;
        }
        HWND field = FileNameField(chooser);
        if (prefilled != nullptr) *prefilled = TextOf(field);
        DWORD_PTR ignored;
        SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG,
                            kSendTimeoutMs, &ignored);
        Press(chooser, IDOK);
        return s.Check(WaitUntilGone(chooser), "the chooser closes");
    }

    bool ReadyAndSummary()
    {
        Scenario s("ready");
        PatchProcess process;
        HWND dialog = StartReady(process, m_goodPatch, s);
        if (dialog == nullptr) return false;
        if (!s.Same(TextOf(dialog), kCaption, "window title")) return false;
        if (!s.Same(ChildText(dialog, IDC_VELK_DESCRIPTION),
                    L"汉化补丁 v1.0\r\n请先备份原始镜像。\r\nSecond line, ASCII.", "description in 1002"))
            return false;
        // The dialog manager selects the whole text when the edit takes the focus; the posted
        // EM_SETSEL undoes that once the dialog runs its loop.
        DWORD_PTR selection = 0;
        const ULONGLONG deadline = GetTickCount64() + 5000;
        do {
            Sleep(kPollMs);
            SendMessageTimeoutW(GetDlgItem(dialog, IDC_VELK_DESCRIPTION), EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG,
                                kSendTimeoutMs, &selection);
        } while (LOWORD(selection) != HIWORD(selection) && GetTickCount64() < deadline);
        if (!s.Check(LOWORD(selection) == HIWORD(selection), "the description is not selected")) return false;
        if (!s.Check(!IsWindowVisible(GetDlgItem(dialog, IDC_VELK_CLOSE)), "the close button is hidden")) return false;
        SetForegroundWindow(dialog);
        Sleep(300);  // let it paint
        if (!m_shots.empty()) s.Check(SaveScreenshot(m_shots, L"dialog", {dialog}), "screenshot saved");

        const std::wstring summary = SummaryOf(Crc(m_original), m_patched.size());
        Press(dialog, IDC_VELK_INFO);
        if (!Answer(process, s, summary, IDOK, L"summary", dialog)) return false;
        // The hidden close button, should a command reach it: the caption as text and caption.
        Press(dialog, IDC_VELK_CLOSE);
        if (!Answer(process, s, kCaption, IDOK)) return false;
        // Pressing the apply button and cancelling the chooser shows nothing.
        Press(dialog, IDC_VELK_APPLY);
        HWND chooser = WaitForDialog(process.Id(), IsFileDialog);
        if (!s.Check(chooser != nullptr, "the chooser opens")) return false;
        Press(chooser, IDCANCEL);
        if (!s.Check(WaitUntilGone(chooser), "the chooser closes on cancel")) return false;
        Sleep(500);
        return s.Check(DialogsOf(process.Id(), IsMessageBox).empty(), "a cancelled chooser shows nothing") &&
               s.Check(process.Running(), "the program keeps running");
    }

    bool ApplyAndReopen()
    {
        Scenario s("apply");
        const std::wstring target = m_work + L"\\A folder with a long name\\game image.iso";
        if (!s.Check(WriteFileBytes(target, m_original), "target written")) return false;
        PatchProcess process;
        HWND dialog = StartReady(process, m_goodPatch, s);
        if (dialog == nullptr) return false;

        std::wstring prefilled;
        if (!Choose(process, dialog, s, target, &prefilled, true)) return false;
        if (!s.Same(prefilled, L"", "the first run has an empty name box")) return false;
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        if (!s.Check(ReadFileBytes(target) == m_patched, "the target holds the patched bytes")) return false;

        // Browse to another folder and cancel there: the platform dialog moves the current
        // folder along, so only the remembered folder can bring the next run back.
        if (!s.Check(PressApply(dialog), "the apply button is enabled again")) return false;
        HWND browsing = WaitForDialog(process.Id(), IsFileDialog);
        if (!s.Check(browsing != nullptr, "the chooser opens")) return false;
        const std::wstring otherFolder = Path(L"three files");
        DWORD_PTR ignored;
        SendMessageTimeoutW(FileNameField(browsing), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(otherFolder.c_str()),
                            SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
        Press(browsing, IDOK);  // a folder name opens the folder
        if (!s.Check(WaitForItemCount(browsing, 3), "the chooser shows the other folder")) return false;
        Press(browsing, IDCANCEL);
        if (!s.Check(WaitUntilGone(browsing), "the chooser closes on cancel")) return false;

        // The next run opens in the folder of the last pick with its name filled in: confirming
        // the name as it stands picks the same file, now patched, so its CRC no longer matches.
        Press(dialog, IDC_VELK_APPLY);
        HWND chooser = WaitForDialog(process.Id(), IsFileDialog);
        if (!s.Check(chooser != nullptr, "the chooser opens again")) return false;
        if (!s.Check(WaitForItemCount(chooser, 1), "the chooser opens in the folder of the last pick")) return false;
        if (!s.Same(TextOf(FileNameField(chooser)), L"game image.iso", "the name of the last pick is filled in"))
            return false;
        Press(chooser, IDOK);
        if (!s.Check(WaitUntilGone(chooser), "the chooser closes")) return false;
        if (!Answer(process, s, W(velk_messages::kCrcQuestion), IDCANCEL)) return false;
        Sleep(300);
        if (!s.Check(DialogsOf(process.Id(), IsMessageBox).empty(), "Cancel ends the application silently"))
            return false;
        if (!s.Check(ReadFileBytes(target) == m_patched, "Cancel leaves the file untouched")) return false;

        // A file of the right size but other content: the question again, and OK goes on.
        std::vector<uint8_t> other = m_original;
        other[5] ^= 0xFF;
        const std::wstring otherTarget = m_work + L"\\A folder with a long name\\other.bin";
        if (!s.Check(WriteFileBytes(otherTarget, other), "second target written")) return false;
        if (!Choose(process, dialog, s, otherTarget)) return false;
        if (!Answer(process, s, W(velk_messages::kCrcQuestion), IDOK)) return false;
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        std::vector<uint8_t> expected = m_patched;
        expected[5] ^= 0xFF;
        return s.Check(ReadFileBytes(otherTarget) == expected, "OK at the question patches the file");
    }

    bool DamagedPayload()
    {
        Scenario s("damaged");
        const std::wstring target = Path(L"damaged target.bin");
        if (!s.Check(WriteFileBytes(target, m_original), "target written")) return false;
        PatchProcess process;
        HWND dialog = StartReady(process, m_damagedPatch, s);
        if (dialog == nullptr) return false;
        if (!Choose(process, dialog, s, target)) return false;
        if (!Answer(process, s, W(velk_messages::kDamaged8), IDOK)) return false;
        return s.Check(ReadFileBytes(target) == m_original, "the target is untouched");
    }

    bool PatchItselfAsTarget()
    {
        Scenario s("itself");
        const std::vector<uint8_t> before = ReadFileBytes(m_goodPatch);
        PatchProcess process;
        HWND dialog = StartReady(process, m_goodPatch, s);
        if (dialog == nullptr) return false;
        if (!Choose(process, dialog, s, m_goodPatch)) return false;
        if (!Answer(process, s, W(velk_messages::kTargetOpenFailed), IDOK)) return false;
        // A file that does not exist is passed on by the chooser and refused by the opening.
        if (!Choose(process, dialog, s, Path(L"missing.iso"))) return false;
        if (!Answer(process, s, W(velk_messages::kTargetOpenFailed), IDOK)) return false;
        return s.Check(ReadFileBytes(m_goodPatch) == before, "the patch is unchanged");
    }

    bool ExitQuestion()
    {
        Scenario s("exit");
        PatchProcess process;
        HWND dialog = StartReady(process, m_goodPatch, s);
        if (dialog == nullptr) return false;
        PressEscape(dialog);
        if (!Answer(process, s, W(velk_messages::kExitQuestion), IDCANCEL)) return false;
        Sleep(300);
        if (!s.Check(process.Running() && IsWindowVisible(dialog), "Cancel keeps the dialog")) return false;
        PressEscape(dialog);
        if (!Answer(process, s, W(velk_messages::kExitQuestion), IDOK)) return false;
        const long code = process.WaitForExit();
        if (code != 2) Log("   exit code %ld", code);
        return s.Check(code == 2, "OK ends the program with exit code 2");
    }

    // The chooser has no owner, so the dialog's close box still works while it is open. A file
    // confirmed after the exit was confirmed is not patched: the program is on its way out.
    bool ExitWhileChoosing()
    {
        Scenario s("exit while choosing");
        const std::wstring target = Path(L"late pick.bin");
        if (!s.Check(WriteFileBytes(target, m_original), "target written")) return false;
        PatchProcess process;
        HWND dialog = StartReady(process, m_goodPatch, s);
        if (dialog == nullptr) return false;
        Press(dialog, IDC_VELK_APPLY);
        HWND chooser = WaitForDialog(process.Id(), IsFileDialog);
        if (!s.Check(chooser != nullptr, "the chooser opens")) return false;
        Press(dialog, IDCANCEL);
        if (!Answer(process, s, W(velk_messages::kExitQuestion), IDOK)) return false;
        DWORD_PTR ignored;
        SendMessageTimeoutW(FileNameField(chooser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()),
                            SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
        Press(chooser, IDOK);
        const long code = process.WaitForExit();
        if (code != 2) Log("   exit code %ld", code);
        return s.Check(code == 2, "the program ends with exit code 2") &&
               s.Check(ReadFileBytes(target) == m_original, "the late pick is not patched");
    }

    // The dialog's answers and title while an application runs, noted by `watch`: every probe
    // answered in time, every title the caption or the caption with progress, moving on.
    bool StayedResponsive(Scenario& s, const WorkWatch& watch, const char* what)
    {
        Log("   %s: %d probes, longest wait for an answer %lu ms (then at %d:%d); titles (stage:percent) %s", what,
            watch.Probes(), watch.WorstMs(), watch.WorstAt().stage, watch.WorstAt().percent, watch.Titles().c_str());
        return s.Check(watch.WorstMs() <= kMaxStallMs, "the dialog answers within 300 ms at every probe") &&
               s.Same(watch.Strange(), L"", "the title shows the caption or the caption with progress");
    }

    // Waits until the application has ended: the caption back in the title, the button on.
    bool BackToReady(HWND dialog, Scenario& s)
    {
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while (TextOf(dialog) != kCaption && GetTickCount64() < deadline) Sleep(kPollMs);
        return s.Same(TextOf(dialog), kCaption, "the caption comes back when the application ends") &&
               s.Check(IsWindowEnabled(GetDlgItem(dialog, IDC_VELK_APPLY)) != FALSE, "the apply button is on again");
    }

    // Starts a long application on a fresh image.
    HWND StartLong(PatchProcess& process, Scenario& s, const std::wstring& target)
    {
        if (!s.Check(WriteSparseImage(target, kLargeImageBytes), "image written")) return nullptr;
        HWND dialog = StartReady(process, m_longPatch, s);
        return dialog != nullptr && Choose(process, dialog, s, target) ? dialog : nullptr;
    }

    // A long application watched from start to end: the dialog answers at every probe, the
    // title shows a rising percentage, the apply button is off, the summary still shows, and
    // Cancel at "要退出?" lets the work go on.
    bool LongApplication()
    {
        Scenario s("long");
        const std::wstring target = Path(L"large image.iso");
        PatchProcess process;
        HWND dialog = StartLong(process, s, target);
        if (dialog == nullptr) return false;
        const ULONGLONG started = GetTickCount64();
        WorkWatch watch(process, dialog);
        if (!watch.Until([](TitleProgress p) { return p.stage == 1 && p.percent >= 5; }) ||
            ParseTitle(TextOf(dialog)).stage != 1) {
            StayedResponsive(s, watch, "application");
            return s.Check(false, "the title shows the check under way");
        }
        // "要退出?" holds the work while it is open; Cancel lets it go on.
        PressEscape(dialog);
        if (!s.Check(WaitForDialog(process.Id(), IsMessageBox) != nullptr, "the exit question appears")) return false;
        const std::wstring asked = TextOf(dialog);
        Sleep(700);
        if (!s.Same(TextOf(dialog), asked, "the work holds while the question is open")) return false;
        if (!Answer(process, s, W(velk_messages::kExitQuestion), IDCANCEL)) return false;
        if (!s.Check(!IsWindowEnabled(GetDlgItem(dialog, IDC_VELK_APPLY)), "the apply button is off while working"))
            return false;
        Press(dialog, IDC_VELK_APPLY);  // sent to the disabled button all the same: turned away
        if (!m_shots.empty()) s.Check(SaveScreenshot(m_shots, L"progress", {dialog}), "screenshot saved");
        Press(dialog, IDC_VELK_INFO);
        if (!Answer(process, s, SummaryOf(m_largeImage.crc, kLargeImageBytes), IDOK)) return false;
        if (!s.Check(watch.Until([](TitleProgress) { return false; }, 120000), "the application ends with a message"))
            return false;
        Log("   the application took %.1f s", static_cast<double>(GetTickCount64() - started) / 1000.0);
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        if (!StayedResponsive(s, watch, "application") || !s.Check(watch.Rising(), "the title shows a rising percentage"))
            return false;
        if (!BackToReady(dialog, s)) return false;
        if (!s.Check(DialogsOf(process.Id(), IsFileDialog).empty(), "no chooser opened while working")) return false;
        return s.Check(CountLongRecords(target) == kLongRecordPlaces, "the records are in the image");
    }

    // Watches the application until the title shows `stage` (1 the check, 2 the records).
    bool ReachStage(WorkWatch& watch, HWND dialog, Scenario& s, int stage)
    {
        const bool reached = watch.Until([stage](TitleProgress p) { return p.stage == stage; });
        return s.Check(reached && ParseTitle(TextOf(dialog)).stage == stage, "the title shows the stage under way");
    }

    // OK at "要退出?" while the application works: the program ends with exit code 2 within a
    // few seconds and leaves the file as it was, with no journal beside it. The work holds
    // while the question is open, so the stop lands in the stage the title shows.
    bool ExitConfirmedLeavesFile(PatchProcess& process, HWND dialog, Scenario& s, WorkWatch& watch,
                                 const std::wstring& target, int stage)
    {
        PressEscape(dialog);
        if (!s.Check(WaitForDialog(process.Id(), IsMessageBox) != nullptr, "the exit question appears")) return false;
        if (!s.Check(ParseTitle(TextOf(dialog)).stage == stage, "the question holds the work in its stage")) return false;
        if (!Answer(process, s, W(velk_messages::kExitQuestion), IDOK)) return false;
        const ULONGLONG confirmed = GetTickCount64();
        const long code = process.WaitForExit(kExitWithinMs);
        Log("   the program ended %lu ms after OK with exit code %ld",
            static_cast<unsigned long>(GetTickCount64() - confirmed), code);
        if (!StayedResponsive(s, watch, "until the exit question")) return false;
        if (!s.Check(code == 2, "the program ends with exit code 2 within 10 s")) return false;
        const std::wstring journal = target + L".velk-undo";
        return s.Check(FingerprintOf(target) == m_largeImage, "the file is byte for byte as it was") &&
               s.Check(GetFileAttributesW(journal.c_str()) == INVALID_FILE_ATTRIBUTES, "no journal is left");
    }

    // "要退出?" and OK while the application is in `stage`.
    bool ExitWhileWorking(const char* name, int stage)
    {
        Scenario s(name);
        const std::wstring target = Path(stage == 1 ? L"stopped in the check.iso" : L"stopped while writing.iso");
        PatchProcess process;
        HWND dialog = StartLong(process, s, target);
        if (dialog == nullptr) return false;
        WorkWatch watch(process, dialog);
        return ReachStage(watch, dialog, s, stage) && ExitConfirmedLeavesFile(process, dialog, s, watch, target, stage);
    }
    bool ExitDuringCheck() { return ExitWhileWorking("exit during the check", 1); }
    bool ExitWhileWriting() { return ExitWhileWorking("exit while writing", 2); }

    // The program ended by force while writing, as Windows ends a program the user gives up
    // on. The next application first undoes the interrupted one, without a word and before the
    // check, which then passes: the first message is the success.
    bool KilledThenAppliedAgain()
    {
        Scenario s("killed");
        const std::wstring target = Path(L"ended by force.iso");
        const std::wstring journal = target + L".velk-undo";
        {
            PatchProcess process;
            HWND dialog = StartLong(process, s, target);
            if (dialog == nullptr) return false;
            WorkWatch watch(process, dialog);
            if (!ReachStage(watch, dialog, s, 2)) return false;
            process.Kill();
        }
        if (!s.Check(GetFileAttributesW(journal.c_str()) != INVALID_FILE_ATTRIBUTES, "a journal is left")) return false;
        PatchProcess process;
        HWND dialog = StartReady(process, m_longPatch, s);
        if (dialog == nullptr || !Choose(process, dialog, s, target)) return false;
        WorkWatch watch(process, dialog);
        if (!s.Check(watch.Until([](TitleProgress) { return false; }, 120000), "the application ends with a message"))
            return false;
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK) || !StayedResponsive(s, watch, "application"))
            return false;
        return s.Check(CountLongRecords(target) == kLongRecordPlaces, "the records are in the image") &&
               s.Check(GetFileAttributesW(journal.c_str()) == INVALID_FILE_ATTRIBUTES, "no journal is left");
    }

    bool RefusedAtStart(const std::wstring& patch, Scenario& s)
    {
        PatchProcess process;
        if (!s.Check(process.Start(patch, Path(L"elsewhere")), "the program starts")) return false;
        HWND box = WaitForDialog(process.Id(), IsMessageBox);
        if (!s.Check(box != nullptr, "a message box appears")) return false;
        if (!s.Check(DialogsOf(process.Id(), IsMainDialog).empty(), "the ready dialog is never shown")) return false;
        if (!Answer(process, s, W(velk_messages::kInitFailed), IDOK)) return false;
        const long code = process.WaitForExit();
        return s.Check(code != -1, "the program exits") && s.Check(code != 2, "the exit is not a confirmed exit");
    }

    bool StubWithoutPayload()
    {
        Scenario s("plain stub");
        return RefusedAtStart(m_plainStub, s);
    }

    bool OlderPayload()
    {
        Scenario s("older");
        return RefusedAtStart(m_olderPatch, s);
    }

    // Signed with Authenticode once finished, by the test script (it has the signing tool), a
    // patch runs as before: the signature follows the payload.
    bool SignedPatch()
    {
        Scenario s("signed");
        const std::wstring patch = Path(L"signed patch.exe");
        const std::wstring target = Path(L"signed target.bin");
        const std::vector<uint8_t> unsignedPatch = ReadFileBytes(m_goodPatch);
        if (!s.Check(WriteFileBytes(patch, unsignedPatch), "patch copied")) return false;
        if (!s.Check(AskScript(patch + L".sign-request", "sign\n"), "the test script answers")) return false;
        CVELK_File file;
        PeSignatureFields fields;
        const bool found = file.OpenFile(patch.c_str(), kModeReadExisting, kShareRead) &&
                           FindPeSignatureFields(file, &fields);
        file.Close();
        if (!s.Check(found && fields.tableSize != 0 && fields.tableOffset >= unsignedPatch.size(),
                     "the patch is signed, the signature behind the payload"))
            return false;
        if (!s.Check(WriteFileBytes(target, m_original), "target written")) return false;
        PatchProcess process;
        HWND dialog = StartReady(process, patch, s);
        if (dialog == nullptr) return false;
        if (!Choose(process, dialog, s, target)) return false;
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        return s.Check(ReadFileBytes(target) == m_patched, "the target holds the patched bytes");
    }

    // A patch that records its result: applied, it verifies the result; applied again, it says
    // once that the file is already patched, and asks and writes nothing.
    bool AlreadyPatched()
    {
        Scenario s("already patched");
        const std::wstring patch = Path(L"result patch.exe"), target = Path(L"patched twice.bin");
        const VelkResultIdentity result{Crc(m_patched), m_original.size()};
        const bool written = WriteRecordsPatch(patch, &result);
        if (!s.Check(written && WriteFileBytes(target, m_original), "patch and target written")) return false;
        PatchProcess process;
        HWND dialog = StartReady(process, patch, s);
        if (dialog == nullptr) return false;
        if (!Choose(process, dialog, s, target)) return false;
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        if (!Choose(process, dialog, s, target)) return false;
        if (!Answer(process, s, W(velk_messages::kAlreadyPatched), IDOK)) return false;
        Sleep(1000);
        return s.Check(DialogsOf(process.Id(), IsMessageBox).empty(), "shown once, and no question") &&
               s.Check(ReadFileBytes(target) == m_patched, "the patched file is left as it is");
    }

    // A set: the main file and a file in a folder modified, one created; the folder and a file
    // have Chinese names. Its summary counts the files, the chooser offers the main file's name,
    // a file that fails its check is named in the one question (Cancel changes nothing), and
    // the set applies whole, once.
    bool SetOfThreeFiles()
    {
        Scenario s("set");
        const std::wstring folder = Path(L"汉化 游戏"), patch = Path(L"set patch.exe");
        const std::vector<uint8_t> game0 = Pattern(200000, 11), text0 = Pattern(3000, 12), text1 = Pattern(3500, 13);
        const std::vector<uint8_t> created = Pattern(800, 14);
        std::vector<uint8_t> game1 = game0;
        for (size_t i = 5000; i < 6000; ++i) game1[i] ^= 0x5A;
        bool written = CopyFileW(m_stub.c_str(), patch.c_str(), FALSE) != 0;
        {
            CVELK_File file;
            written = written && file.OpenFile(patch.c_str(), kModeReadWriteOpenAlways, kShareNone) &&
                      file.Seek(file.GetSize());
            CVELK_SetWriter writer(file);
            CVELK_MemoryFile g0(game0, kAccessRead), g1(game1, kAccessRead), t0(text0, kAccessRead),
                t1(text1, kAccessRead), c1(created, kAccessRead);
            // In the directory's order: game.bin, 数据/文本.dat, 新文件.txt.
            written = written && writer.Begin() && writer.AddChanged("game.bin", &g0, g1) == VelkBuildStatus::kOk &&
                      writer.AddChanged("数据/文本.dat", &t0, t1) == VelkBuildStatus::kOk &&
                      writer.AddChanged("新文件.txt", nullptr, c1) == VelkBuildStatus::kOk &&
                      writer.Finish(0, kDescription);
        }
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"\\数据").c_str(), nullptr);
        const std::wstring game = folder + L"\\game.bin", text = folder + L"\\数据\\文本.dat",
                           made = folder + L"\\新文件.txt";
        std::vector<uint8_t> otherText = text0;
        otherText[7] ^= 1;
        if (!s.Check(written && WriteFileBytes(game, game0) && WriteFileBytes(text, otherText), "set and folder written"))
            return false;
        PatchProcess process;
        HWND dialog = StartReady(process, patch, s);
        if (dialog == nullptr) return false;
        Press(dialog, IDC_VELK_INFO);
        const std::wstring summary = L"补丁版本: VELK-SET1\r\n补丁中的文件数: 3\r\n打补丁后的文件大小合计: " +
                                     std::to_wstring(game1.size() + text1.size() + created.size());
        if (!Answer(process, s, summary, IDOK)) return false;
        std::wstring prefilled;
        if (!Choose(process, dialog, s, game, &prefilled)) return false;
        if (!s.Same(prefilled, L"game.bin", "the chooser offers the main file's name")) return false;
        if (!Answer(process, s, W(velk_messages::kSetCrcQuestion) + L"\n数据/文本.dat", IDCANCEL, L"set question"))
            return false;
        Sleep(300);
        if (!s.Check(ReadFileBytes(game) == game0 && ReadFileBytes(text) == otherText &&
                         GetFileAttributesW(made.c_str()) == INVALID_FILE_ATTRIBUTES,
                     "Cancel changes no file"))
            return false;
        if (!s.Check(WriteFileBytes(text, text0), "the file put right")) return false;
        if (!Choose(process, dialog, s, game)) return false;
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        if (!s.Check(ReadFileBytes(game) == game1 && ReadFileBytes(text) == text1 && ReadFileBytes(made) == created,
                     "every file of the set is patched"))
            return false;
        if (!Choose(process, dialog, s, game)) return false;
        return Answer(process, s, W(velk_messages::kAlreadyPatched), IDOK);
    }

    // A patch that records its result and keeps its undo journal: a file of the wrong size is
    // questioned with the reason above the question; a file with a name longer than the
    // chooser's title buffer is patched, the chooser brings the whole name back, and the patch,
    // run on its result, asks whether to restore the original and does.
    bool WhyNotAndTakeBack()
    {
        Scenario s("why not, take back");
        const std::wstring folder = Path(L"kept");
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring name = L"Legend of Zelda, The - Ocarina of Time - Master Quest (USA) (GameCube Edition).z64";
        const std::wstring target = folder + L"\\" + name, wrong = folder + L"\\wrong size.bin";
        const std::wstring patch = Path(L"keeping patch.exe"), journal = target + L".velk-undo";
        const VelkResultIdentity kept{Crc(m_patched), m_original.size(), velk_extension::kFlagKeepUndo};
        const bool written = WriteRecordsPatch(patch, &kept);
        DeleteFileW(journal.c_str());  // what a run that failed half way may have kept
        const std::vector<uint8_t> shorter(m_original.begin(), m_original.begin() + 1000);
        if (!s.Check(written && WriteFileBytes(target, m_original) && WriteFileBytes(wrong, shorter),
                     "patch and targets written"))
            return false;
        PatchProcess process;
        HWND dialog = StartReady(process, patch, s);
        if (dialog == nullptr || !Choose(process, dialog, s, wrong)) return false;
        const std::wstring why = L"目标文件大小(1,000字节)与原文件(300,000字节)不同\n" + W(velk_messages::kCrcQuestion);
        if (!Answer(process, s, why, IDCANCEL, L"why_not", dialog)) return false;
        if (!Choose(process, dialog, s, target) || !Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        if (!s.Check(ReadFileBytes(target) == m_patched, "the target holds the patched bytes") ||
            !s.Check(GetFileAttributesW(journal.c_str()) != INVALID_FILE_ATTRIBUTES, "the undo journal is kept"))
            return false;
        // The chooser opens on the last pick, its whole name filled in: confirmed as it stands.
        if (!s.Check(PressApply(dialog), "the apply button is enabled again")) return false;
        HWND chooser = WaitForDialog(process.Id(), IsFileDialog);
        if (!s.Check(chooser != nullptr, "the chooser opens again")) return false;
        if (!s.Same(TextOf(FileNameField(chooser)), name, "the whole name of the last pick is filled in")) return false;
        Press(chooser, IDOK);
        if (!s.Check(WaitUntilGone(chooser), "the chooser closes")) return false;
        if (!Answer(process, s, W(velk_messages::kRestoreQuestion), IDOK) ||
            !Answer(process, s, W(velk_messages::kRestored), IDOK))
            return false;
        return s.Check(ReadFileBytes(target) == m_original, "the original is back") &&
               s.Check(GetFileAttributesW(journal.c_str()) == INVALID_FILE_ATTRIBUTES, "the undo journal is gone");
    }

    // Where no journal can be written beside the target (here its name would be longer than the
    // file system takes: 82 CJK characters are 246 bytes of UTF-8, and the journal adds 10), the
    // user is told once, before anything is written, that this application cannot be undone.
    bool NoUndoJournal()
    {
        Scenario s("no undo journal");
        std::wstring name;
        for (int i = 0; i < 82; ++i) name += static_cast<wchar_t>(0x6C49 + i % 7);
        const std::wstring target = Path(L"") + name + L".bin";
        if (!s.Check(WriteFileBytes(target, m_original), "target written")) return false;
        PatchProcess process;
        HWND dialog = StartReady(process, m_goodPatch, s);
        if (dialog == nullptr || !Choose(process, dialog, s, target)) return false;
        HWND notice = WaitForDialog(process.Id(), IsMessageBox);
        if (!s.Check(notice != nullptr, "a message box appears") ||
            !s.Same(ChildText(notice, kMessageBoxTextId), W(velk_messages::kNoUndoJournal), "the notice") ||
            !s.Check(ReadFileBytes(target) == m_original, "nothing is written while the notice is shown"))
            return false;
        Press(notice, IDOK);
        if (!s.Check(WaitUntilGone(notice), "the notice closes")) return false;
        if (!Answer(process, s, W(velk_messages::kSuccess), IDOK)) return false;
        Sleep(500);
        return s.Check(DialogsOf(process.Id(), IsMessageBox).empty(), "told once") &&
               s.Check(ReadFileBytes(target) == m_patched, "the target holds the patched bytes");
    }

    std::wstring m_stub, m_work, m_shots;
    std::vector<uint8_t> m_original, m_patched;
    std::vector<VelkRecord> m_records;
    std::wstring m_goodPatch, m_damagedPatch, m_olderPatch, m_plainStub;
    std::wstring m_longPatch;
    Fingerprint m_largeImage;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: velk_e2e_driver <velkstub.exe> <work folder> [<screenshot folder>]\n");
        return 2;
    }
    auto full = [](const wchar_t* path) {
        wchar_t buffer[MAX_PATH];
        const DWORD n = GetFullPathNameW(path, MAX_PATH, buffer, nullptr);
        return n > 0 && n < MAX_PATH ? std::wstring(buffer) : std::wstring(path);
    };
    Driver driver(full(argv[1]), full(argv[2]), argc > 3 ? full(argv[3]) : std::wstring());
    return driver.Run();
}
