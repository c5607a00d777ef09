// Part of velkpatch. MIT licence, see LICENSE.
#pragma once

#include <cerrno>

namespace velk_posix {

// Makes a system call again for as long as a signal breaks it off (EINTR); returns what the last
// call returned, with errno saying why where it failed.
template <typename Call>
auto Uninterrupted(Call call) -> decltype(call())
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace velk_posix
