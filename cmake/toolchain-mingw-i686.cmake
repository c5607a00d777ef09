# Windows x86 with mingw-w64; tests run under 32-bit Wine through CTest.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELK_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
