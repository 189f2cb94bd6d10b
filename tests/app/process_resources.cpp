#include "tests/app/process_resources.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstddef>
#include <vector>

namespace {

constexpr ULONG SYSTEM_HANDLE_INFORMATION_CLASS = 16;
constexpr LONG STATUS_INFO_LENGTH_MISMATCH_CODE = static_cast<LONG>(0xC0000004L);
constexpr size_t MAX_HANDLE_TABLE_BYTES = 64u << 20;

struct SystemHandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT handleValue;
    PVOID object;
    ACCESS_MASK grantedAccess;
};

struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

using QuerySystemInformation = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);

QuerySystemInformation FindQuery() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
}

}  // namespace

int CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    if (Thread32First(snapshot, &entry)) {
        do {
            if (entry.th32OwnerProcessID == self) {
                ++count;
            }
        } while (Thread32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return count;
}

long CountHandles() {
    static const QuerySystemInformation query = FindQuery();
    if (query == nullptr) {
        return -1;
    }
    std::vector<unsigned char> buffer(1u << 20);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(SYSTEM_HANDLE_INFORMATION_CLASS, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == STATUS_INFO_LENGTH_MISMATCH_CODE && buffer.size() < MAX_HANDLE_TABLE_BYTES) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) {
            return -1;
        }
        break;
    }
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    const SystemHandleEntry* entries = &table->entries[0];
    const size_t fits = (buffer.size() - offsetof(SystemHandleTable, entries)) / sizeof(SystemHandleEntry);
    const size_t listed = table->count < fits ? table->count : fits;
    const DWORD self = GetCurrentProcessId();
    long count = 0;
    for (size_t i = 0; i < listed; ++i) {
        if (entries[i].ownerProcessId == self) {
            ++count;
        }
    }
    return count;
}

ProcessResources MeasureProcess() {
    ProcessResources r = {};
    r.threads = CountThreads();
    r.handles = CountHandles();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
        r.committedBytes = memory.PagefileUsage;
        r.workingSetBytes = memory.WorkingSetSize;
    }
    return r;
}
