// The target file chooser: one run of the system's open-file dialog (CVELKFileDialog), and the
// long-lived chooser that remembers the folder and name of the last confirmed pick between runs
// (CVELKFileDialog_Open).
#pragma once

#include <windows.h>
#include <commdlg.h>
#include <shlwapi.h>

#include <memory>
#include <string>

// The full record of the build's architecture; the dialog refuses records it does not know.
#ifdef _WIN64
static_assert(sizeof(OPENFILENAMEW) == 152, "OPENFILENAMEW is 152 bytes on x64");
#else
static_assert(sizeof(OPENFILENAMEW) == 88, "OPENFILENAMEW is 88 bytes on x86");
#endif

// UTF-16 text. std::u16string rather than std::wstring: the C++ runtime ships the wchar_t string
// prebuilt, which would link all of it into the program; the char16_t one is built from the
// header with what is used.
using WideString = std::u16string;
inline const wchar_t* WidePtr(const WideString& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline WideString ToWideString(const wchar_t* text)
{
    return text != nullptr ? WideString(reinterpret_cast<const char16_t*>(text)) : WideString();
}

// The platform call that shows the dialog; tests stand in for it.
using VelkOpenFileNameFn = BOOL(WINAPI*)(OPENFILENAMEW*);

class CVELKFileDialog {
public:
    static constexpr DWORD kFileUnits = MAX_PATH;
    static constexpr DWORD kFileTitleUnits = 64;

    // `filter` holds description|pattern pairs, each part followed by a bar, one more bar at the
    // end. A longer initial name is cut to fit the file buffer.
    CVELKFileDialog(const wchar_t* initialFileName, DWORD flags, const wchar_t* filter,
                    VelkOpenFileNameFn show = GetOpenFileNameW);
    virtual ~CVELKFileDialog() {}
    CVELKFileDialog(const CVELKFileDialog&) = delete;
    CVELKFileDialog& operator=(const CVELKFileDialog&) = delete;

    // IDOK when the user confirmed a file, IDCANCEL for every other outcome.
    int Run();

    WideString GetSelectedPath() const { return ToWideString(m_file); }
    WideString GetSelectedFileTitle() const { return ToWideString(m_fileTitle); }
    // The name of the selected file, from its full path: unlike the file title, never cut short.
    WideString GetSelectedFileName() const { return ToWideString(PathFindFileNameW(m_file)); }
    WideString GetSelectedFolder() const { return m_folder; }

    // Open to the owner between construction and Run.
    OPENFILENAMEW& Record() { return *m_record; }

private:
    WideString m_folder;
    std::unique_ptr<OPENFILENAMEW> m_record;
    WideString m_filter;
    wchar_t m_fileTitle[kFileTitleUnits] = {};
    wchar_t m_file[kFileUnits] = {};
    VelkOpenFileNameFn m_show;
};

class CVELKFileDialog_Open {
public:
    CVELKFileDialog_Open(const wchar_t* filter, const wchar_t* initialFileName,
                         VelkOpenFileNameFn show = GetOpenFileNameW);
    virtual ~CVELKFileDialog_Open() {}
    CVELKFileDialog_Open(const CVELKFileDialog_Open&) = delete;
    CVELKFileDialog_Open& operator=(const CVELKFileDialog_Open&) = delete;

    // Opens in the folder of the last confirmed pick with its name filled in. A run that is not
    // confirmed changes nothing that the next run uses.
    int Run();
    // The confirmed path; empty before the first run.
    WideString GetSelectedPath() const;

private:
    WideString m_lastFolder;
    WideString m_filter;
    WideString m_fileName;
    // The latest run's dialog: it outlives the run so that its selection can be fetched.
    std::unique_ptr<CVELKFileDialog> m_dialog;
    VelkOpenFileNameFn m_show;
};
