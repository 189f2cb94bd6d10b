#include "tests/support/test_process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>

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

int CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

long CountHandles() {
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return long(reinterpret_cast<uintptr_t>(probe) / 4);
}
