#include "ui/file_dialog_win32.h"

#include <shlwapi.h>

#include <algorithm>

namespace {

// Explorer style, read-only box hidden. The system asks the platform neither to insist that the
// file exists nor to allow several files: a missing file is reported when it is opened.
constexpr DWORD kChooserFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;

}  // namespace

CVELKFileDialog::CVELKFileDialog(const wchar_t* initialFileName, DWORD flags, const wchar_t* filter,
                                 VelkOpenFileNameFn show)
    : m_record(new OPENFILENAMEW()), m_show(show)
{
    OPENFILENAMEW& record = *m_record;
    record.lStructSize = sizeof(OPENFILENAMEW);
    record.lpstrFile = m_file;
    record.nMaxFile = kFileUnits;
    record.lpstrFileTitle = m_fileTitle;
    record.nMaxFileTitle = kFileTitleUnits;
    record.lpstrInitialDir = nullptr;
    record.Flags = flags | OFN_EXPLORER;

    if (initialFileName != nullptr) {
        // A name too long for the buffer is cut, not refused.
        const size_t n = std::min<size_t>(wcslen(initialFileName), kFileUnits - 1);
        std::copy(initialFileName, initialFileName + n, m_file);
        m_file[n] = 0;
    }

    // The platform wants NUL-separated strings closed by an empty one; the bars mark the NULs.
    m_filter = ToWideString(filter);
    std::replace(m_filter.begin(), m_filter.end(), u'|', u'\0');
    record.lpstrFilter = WidePtr(m_filter);
}

int CVELKFileDialog::Run()
{
    if (!m_show(m_record.get())) return IDCANCEL;
    m_file[kFileUnits - 1] = 0;
    m_fileTitle[kFileTitleUnits - 1] = 0;

    // The folder is the selection without its last component; a drive root keeps its backslash.
    wchar_t folder[kFileUnits];
    std::copy(m_file, m_file + kFileUnits, folder);
    PathRemoveFileSpecW(folder);
    m_folder = ToWideString(folder);
    return IDOK;
}

CVELKFileDialog_Open::CVELKFileDialog_Open(const wchar_t* filter, const wchar_t* initialFileName,
                                           VelkOpenFileNameFn show)
    : m_filter(ToWideString(filter)),
      m_fileName(ToWideString(initialFileName)),
      m_show(show)
{
}

int CVELKFileDialog_Open::Run()
{
    // A run in progress would still be using the old record; the caller never starts two.
    m_dialog.reset();
    m_dialog.reset(new CVELKFileDialog(WidePtr(m_fileName), kChooserFlags, WidePtr(m_filter), m_show));
    if (!m_lastFolder.empty()) m_dialog->Record().lpstrInitialDir = WidePtr(m_lastFolder);

    const int result = m_dialog->Run();
    if (result != IDOK) return result;
    // The name from the full path: the file title buffer holds only 63 units, and a longer
    // name cut there would open, or patch, another file at the next run.
    m_fileName = m_dialog->GetSelectedFileName();
    m_lastFolder = m_dialog->GetSelectedFolder();
    return IDOK;
}

WideString CVELKFileDialog_Open::GetSelectedPath() const
{
    return m_dialog ? m_dialog->GetSelectedPath() : WideString();
}
