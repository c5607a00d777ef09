// A second process for the Windows tests: holds a file open the way it is told until released.
//   velk_file_holder <path> <mode> <share> <ready-file> <release-file>
// Writes "1" (opened) or "0" (not) to the ready file, then waits until the release file exists.
#include <chrono>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <thread>

#include "file/velk_file.h"

namespace fs = std::filesystem;

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6) return 2;
    // Under Wine a file the test has just closed after flushing it can stay held for a moment
    // while the flush completes in the server; the holder tries for a few seconds.
    CVELK_File file;
    const int mode = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    const int share = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    bool opened = file.OpenFile(argv[1], mode, share);
    for (int attempt = 0; !opened && attempt < 100; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        opened = file.OpenFile(argv[1], mode, share);
    }
    // Written under another name first, so that the test never reads it half-written.
    const fs::path ready(argv[4]), partial(std::wstring(argv[4]) + L"~");
    std::ofstream(partial) << (opened ? '1' : '0');
    fs::rename(partial, ready);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(fs::path(argv[5])) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 0;
}
