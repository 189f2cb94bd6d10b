#include "tests/support/program_directory.h"

#include <windows.h>

std::string ProgramDirectory() {
    wchar_t path[MAX_PATH * 4];
    int n = static_cast<int>(GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
    while (n > 0 && path[n - 1] != L'\\' && path[n - 1] != L'/') {
        --n;
    }
    char out[MAX_PATH * 16];
    const int bytes =
        n > 1 ? WideCharToMultiByte(CP_UTF8, 0, path, n - 1, out, sizeof out, nullptr, nullptr) : 0;
    return bytes > 0 ? std::string(out, static_cast<size_t>(bytes)) : ".";
}
