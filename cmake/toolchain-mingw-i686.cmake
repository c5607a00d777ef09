# Windows x86 with mingw-w64. Built and checked, not run: 32-bit programs cannot execute here.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELK_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
