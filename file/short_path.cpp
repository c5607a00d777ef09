#include "file/short_path.h"

#include <cstddef>
#include <string>

namespace {

constexpr size_t kUnits = kMaxPathUnits;

template <class Char>
const Char* FindBackslash(const Char* text)
{
    for (; *text != 0; ++text)
        if (*text == Char('\\')) return text;
    return nullptr;
}

// The path being built, one name at a time, never past kUnits units with its NUL.
template <class Char>
class WorkPath {
public:
    explicit WorkPath(const ShortPathServices<Char>& services) : m_services(services) { m_text[0] = 0; }

    size_t Length() const { return m_length; }
    const Char* Text() const { return m_text; }

    // Room for a name of k units and one more unit (its backslash, or the NUL).
    bool Fits(size_t k) const { return m_length + k + 1 < kUnits; }

    void Append(const Char* name, size_t k)
    {
        for (size_t i = 0; i < k; ++i) m_text[m_length++] = name[i];
        m_text[m_length] = 0;
    }
    void AppendBackslash() { Append(&kBackslash, 1); }

    // Replaces the text by its short form. A form that does not fit is a failure.
    bool Shorten()
    {
        Char shortForm[kUnits];
        uint32_t n = m_services.ShortName(m_text, shortForm, kUnits);
        if (n == 0 || n >= kUnits) return false;
        m_length = 0;
        Append(shortForm, n);
        return true;
    }

    // Attributes of the text followed by `k` units of `name` (and a backslash when asked).
    uint32_t AttributesWith(const Char* name, size_t k, bool backslash) const
    {
        WorkPath probe(*this);
        probe.Append(name, k);
        if (backslash) probe.AppendBackslash();
        return m_services.Attributes(probe.m_text);
    }

    void CopyTo(Char* out) const
    {
        for (size_t i = 0; i <= m_length; ++i) out[i] = m_text[i];
    }

private:
    static constexpr Char kBackslash = Char('\\');
    const ShortPathServices<Char>& m_services;
    Char m_text[kUnits];
    size_t m_length = 0;
};

}  // namespace

template <class Char>
bool ToShortPath(const Char* path, Char* out, const ShortPathServices<Char>& services)
{
    out[0] = 0;
    WorkPath<Char> work(services);
    const Char* rest = path;
    while (const Char* backslash = FindBackslash(rest)) {
        const size_t k = static_cast<size_t>(backslash - rest);
        if (!work.Fits(k)) return false;
        work.Append(rest, k);
        if (backslash[1] != 0) work.AppendBackslash();  // a backslash that ends the path goes
        rest = backslash + 1;
        if (!work.Shorten()) return false;
    }
    if (*rest != 0) {
        const size_t k = std::char_traits<Char>::length(rest);
        if (!work.Fits(k)) return false;
        work.Append(rest, k);
        if (!work.Shorten()) return false;
    }
    if (services.Attributes(work.Text()) == kInvalidFileAttributes) return false;
    work.CopyTo(out);
    return true;
}

template <class Char>
bool ToShortFolderPath(const Char* path, Char* out, const ShortPathServices<Char>& services)
{
    out[0] = 0;
    WorkPath<Char> work(services);
    const Char* rest = path;
    while (const Char* backslash = FindBackslash(rest)) {
        const size_t k = static_cast<size_t>(backslash - rest);
        if (!work.Fits(k)) return false;
        if (backslash[1] == 0) {
            const uint32_t attributes = work.AttributesWith(rest, k, true);
            if (attributes == kInvalidFileAttributes) return false;
            if (!(attributes & kFileAttributeDirectory)) {
                rest = backslash + 1;  // a plain file: its name stays out of the folder part
                break;
            }
        }
        work.Append(rest, k);
        work.AppendBackslash();
        rest = backslash + 1;
        if (!work.Shorten()) return false;
    }
    if (*rest != 0) {
        const size_t k = std::char_traits<Char>::length(rest);
        if (!work.Fits(k)) return false;
        const uint32_t attributes = work.AttributesWith(rest, k, false);
        if (attributes == kInvalidFileAttributes) return false;
        if (attributes & kFileAttributeDirectory) {
            work.Append(rest, k);  // kept in its long form
            work.AppendBackslash();
        }
    }
    if (services.Attributes(work.Text()) == kInvalidFileAttributes) return false;
    work.CopyTo(out);
    return true;
}

template <class Char>
bool GetRetryPath(const Char* path, ShortPathDisposition disposition, Char* out,
                  const ShortPathServices<Char>& services)
{
    if (disposition == kDispositionOpenExisting) return ToShortPath(path, out, services);
    if (!ToShortFolderPath(path, out, services)) return false;

    const Char* lastBackslash = nullptr;
    for (const Char* p = path; *p != 0; ++p)
        if (*p == Char('\\')) lastBackslash = p;
    if (lastBackslash == nullptr) {
        out[0] = 0;
        return false;
    }
    // When the final name is itself a folder the folder part already ends in it, and the name
    // is added once more; the whole must still fit its buffer.
    const Char* finalName = lastBackslash + 1;
    const size_t folderLength = std::char_traits<Char>::length(out);
    const size_t nameLength = std::char_traits<Char>::length(finalName);
    if (folderLength + nameLength >= kUnits) {
        out[0] = 0;
        return false;
    }
    for (size_t i = 0; i <= nameLength; ++i) out[folderLength + i] = finalName[i];
    return true;
}

template bool ToShortPath<char>(const char*, char*, const ShortPathServices<char>&);
template bool ToShortPath<char16_t>(const char16_t*, char16_t*, const ShortPathServices<char16_t>&);
template bool ToShortPath<wchar_t>(const wchar_t*, wchar_t*, const ShortPathServices<wchar_t>&);
template bool ToShortFolderPath<char>(const char*, char*, const ShortPathServices<char>&);
template bool ToShortFolderPath<char16_t>(const char16_t*, char16_t*,
                                          const ShortPathServices<char16_t>&);
template bool ToShortFolderPath<wchar_t>(const wchar_t*, wchar_t*, const ShortPathServices<wchar_t>&);
template bool GetRetryPath<char>(const char*, ShortPathDisposition, char*,
                                 const ShortPathServices<char>&);
template bool GetRetryPath<char16_t>(const char16_t*, ShortPathDisposition, char16_t*,
                                     const ShortPathServices<char16_t>&);
template bool GetRetryPath<wchar_t>(const wchar_t*, ShortPathDisposition, wchar_t*,
                                    const ShortPathServices<wchar_t>&);
