# Windows x64 with mingw-w64; tests run under Wine through CTest. The posix thread model gives
# the standard library its std::mutex (GoogleTest needs it); it is linked in statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELK_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
