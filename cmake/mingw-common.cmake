# Shared by the mingw-w64 toolchain files; VELK_MINGW names the target triple.
# The posix thread model gives the standard library its std::mutex (GoogleTest needs it); it is
# linked in statically, so the programs still import only Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELK_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
