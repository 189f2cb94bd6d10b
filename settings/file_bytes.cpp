#include "settings/file_bytes.h"

bool WriteAllBytes(HANDLE file, const void* data, size_t bytes) {
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(bytes), &written, nullptr) != FALSE &&
           written == bytes;
}

bool ReadFileBytes(const wchar_t* path, uint64_t maxBytes, std::vector<char>& bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    bool ok =
        GetFileSizeEx(file, &size) != FALSE && static_cast<uint64_t>(size.QuadPart) <= maxBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got,
                                        nullptr) != FALSE &&
                               got == bytes.size());
    }
    CloseHandle(file);
    return ok;
}
