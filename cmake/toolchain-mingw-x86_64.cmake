# Windows x64 with mingw-w64; tests run under Wine through CTest.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELK_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
