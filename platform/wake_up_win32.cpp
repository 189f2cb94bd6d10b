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

namespace {

// Handles every message waiting for this thread; a quit request is kept for after the wait.
void PumpMessages(bool& quit, WPARAM& quitCode) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            quitCode = message.wParam;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

WakeUpEnd WakeUpWaitFor(WakeUp* wake, const ChildProcess* watched, uint32_t ms, bool pump) {
    HANDLE handles[2] = {AsHandle(wake->handle),
                         watched != nullptr ? AsHandle(watched->handle) : nullptr};
    const DWORD count = handles[1] != nullptr ? 2 : 1;
    const DWORD start = GetTickCount();
    bool quit = false;
    WPARAM quitCode = 0;
    WakeUpEnd end = WakeUpEnd::TimedOut;
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = spent >= ms ? 0 : ms - spent;
        const DWORD result = pump ? MsgWaitForMultipleObjectsEx(count, handles, left, QS_ALLINPUT,
                                                                MWMO_INPUTAVAILABLE)
                                  : WaitForMultipleObjects(count, handles, FALSE, left);
        if (result == WAIT_OBJECT_0) {
            end = WakeUpEnd::Signalled;
            break;
        }
        if (result == WAIT_OBJECT_0 + 1 && count == 2) {
            end = WakeUpEnd::ProcessEnded;
            break;
        }
        if (result != WAIT_OBJECT_0 + count || left == 0) {
            break; // timed out (or the wait failed: as good as no answer)
        }
        PumpMessages(quit, quitCode);
    }
    if (quit) {
        PostQuitMessage(static_cast<int>(quitCode));
    }
    return end;
}

void WakeUpClose(WakeUp* wake) {
    if (wake->handle != 0) {
        CloseHandle(AsHandle(wake->handle));
    }
    *wake = WakeUp{};
}
