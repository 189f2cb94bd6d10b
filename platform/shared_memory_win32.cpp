#include "platform/shared_memory.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr size_t NAME_UNITS = 96;

// In the session's own namespace: another user's session cannot reach it.
bool WindowsName(const char* name, wchar_t (&out)[NAME_UNITS]) {
    const int n = std::swprintf(out, NAME_UNITS, L"Local\\%hs", name);
    return n > 0 && static_cast<size_t>(n) < NAME_UNITS;
}

bool Map(SharedMemory* memory, HANDLE mapping, size_t bytes) {
    void* address = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, bytes);
    if (address == nullptr) {
        CloseHandle(mapping);
        return false;
    }
    memory->address = address;
    memory->bytes = bytes;
    memory->handle = reinterpret_cast<intptr_t>(mapping);
    return true;
}

} // namespace

bool SharedMemoryCreate(SharedMemory* memory, const char* name, size_t bytes) {
    *memory = SharedMemory{};
    wchar_t path[NAME_UNITS];
    if (!WindowsName(name, path)) {
        return false;
    }
    const unsigned long long size = bytes;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(size >> 32),
                                        static_cast<DWORD>(size & 0xFFFFFFFFu), path);
    if (mapping == nullptr) {
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);
        return false;
    }
    return Map(memory, mapping, bytes);
}

bool SharedMemoryOpen(SharedMemory* memory, const char* name, size_t bytes) {
    *memory = SharedMemory{};
    wchar_t path[NAME_UNITS];
    if (!WindowsName(name, path)) {
        return false;
    }
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, path);
    return mapping != nullptr && Map(memory, mapping, bytes);
}

void SharedMemoryRemoveName(const char* /*name*/) {}

void SharedMemoryClose(SharedMemory* memory) {
    if (memory->address != nullptr) {
        UnmapViewOfFile(memory->address);
    }
    if (memory->handle != 0) {
        CloseHandle(reinterpret_cast<HANDLE>(memory->handle));
    }
    *memory = SharedMemory{};
}
