#include <windows.h>

#include "file/short_path.h"

namespace {

class Win32ShortPathServices : public ShortPathServices<wchar_t> {
public:
    uint32_t ShortName(const wchar_t* path, wchar_t* out, uint32_t capacity) const override
    {
        return GetShortPathNameW(path, out, capacity);
    }
    uint32_t Attributes(const wchar_t* path) const override { return GetFileAttributesW(path); }
};

}  // namespace

const ShortPathServices<wchar_t>& PlatformShortPathServices()
{
    static const Win32ShortPathServices services;
    return services;
}
