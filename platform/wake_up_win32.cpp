#include "platform/wake_up.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr size_t NAME_UNITS = 96;

bool WindowsName(const char* name, wchar_t (&out)[NAME_UNITS]) {
    const int n = std::swprintf(out, NAME_UNITS, L"Local\\%hs", name);
    return n > 0 && static_cast<size_t>(n) < NAME_UNITS;
}

HANDLE AsHandle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

bool WakeUpCreate(WakeUp* wake, const char* name, uint32_t* /*word*/) {
    *wake = WakeUp{};
    wchar_t path[NAME_UNITS];
    if (!WindowsName(name, path)) {
        return false;
    }
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, path);
    if (event != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(event);
        event = nullptr;
    }
    wake->handle = reinterpret_cast<intptr_t>(event);
    return event != nullptr;
}

bool WakeUpOpen(WakeUp* wake, const char* name, uint32_t* /*word*/) {
    *wake = WakeUp{};
    wchar_t path[NAME_UNITS];
    if (!WindowsName(name, path)) {
        return false;
    }
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, path);
    wake->handle = reinterpret_cast<intptr_t>(event);
    return event != nullptr;
}

void WakeUpSignal(WakeUp* wake) {
    SetEvent(AsHandle(wake->handle));
}

bool WakeUpWait(WakeUp* wake, uint32_t ms) {
    return WaitForSingleObject(AsHandle(wake->handle), ms) == WAIT_OBJECT_0;
}

void WakeUpClose(WakeUp* wake) {
    if (wake->handle != 0) {
        CloseHandle(AsHandle(wake->handle));
    }
    *wake = WakeUp{};
}
