#include "tests/support/program_directory.h"

#include <windows.h>

std::string ProgramDirectory() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) {
        return ".";
    }
    std::wstring full(path, n);
    const size_t separator = full.find_last_of(L"\\/");
    if (separator != std::wstring::npos) {
        full.resize(separator);
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, full.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return ".";
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, full.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes - 1));
    return out;
}
