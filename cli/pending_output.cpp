#include "cli/pending_output.h"

#include "cli/platform.h"
#include "file/file_system.h"

namespace velk_cli {

namespace {

// UTF-8 continuation bytes (POSIX names) and low surrogates (Windows names) belong to the
// character before them.
bool ContinuesCharacter(NativeChar unit)
{
#ifdef _WIN32
    return unit >= 0xDC00 && unit <= 0xDFFF;
#else
    return (static_cast<unsigned char>(unit) & 0xC0) == 0x80;
#endif
}

// Where the name starts in a path: after the last separator of either kind.
size_t NameStart(const NativeString& path)
{
    const size_t slash = path.find_last_of(VELK_NATIVE("/") + NativeString(1, kPathSeparator));
    return slash == NativeString::npos ? 0 : slash + 1;
}

}  // namespace

PendingOutput::PendingOutput(const NativeString& output) : m_target(FollowLinks(output)) {}

PendingOutput::~PendingOutput()
{
    m_file.Close();
    if (!m_path.empty() && !m_committed) DiskFileSystem().Remove(m_path.c_str());
}

NativeString PendingOutput::TemporaryName(const NativeString& name, uint32_t attempt, size_t limit)
{
    NativeString suffix;
    for (char c : ".velktmp-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt))
        suffix += static_cast<NativeChar>(c);
    size_t keep = limit > suffix.size() ? limit - suffix.size() : 0;
    if (keep >= name.size()) return name + suffix;
    while (keep > 0 && ContinuesCharacter(name[keep])) --keep;
    return name.substr(0, keep) + suffix;
}

bool PendingOutput::Create(bool executable)
{
    const size_t nameStart = NameStart(m_target);
    const NativeString folder = m_target.substr(0, nameStart);
    const NativeString name = m_target.substr(nameStart);
    const size_t limit = NameLimit(folder);
    for (uint32_t attempt = 0; attempt < 100; ++attempt) {
        const NativeString path = folder + TemporaryName(name, attempt, limit);
        if (m_file.CreateNew(path.c_str(), kShareRead)) {
            m_path = path;
            AdoptPermissions(m_file, m_target, executable);
            return true;
        }
        if (!FileExists(path)) return false;  // the folder itself refuses
    }
    return false;
}

bool PendingOutput::Commit()
{
    m_file.Close();
    m_committed = RenameOver(m_path, m_target);
    return m_committed;
}

}  // namespace velk_cli
