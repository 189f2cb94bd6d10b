// Faults with handlers of the effect's own in frames inside the host's guard: one that handles
// the fault itself, so the system offers it there first and the host must never see it; one
// that only cleans up when its frame is unwound.
#include "tests/plugins/own_fault.h"

#ifdef _WIN32
#include <windows.h>
#include <excpt.h>
#include <intrin.h>

namespace {

volatile int* volatile nowhere = nullptr;

__attribute__((noinline)) void WriteNowhere() { *nowhere = 1; }

} // namespace

// Called for the frame both while the fault is offered around (it declines) and when the frame
// is unwound: only then is the lock given back.
extern "C" EXCEPTION_DISPOSITION __cdecl HeapUnlockOnUnwind(EXCEPTION_RECORD* record, void*,
                                                            CONTEXT*, void*) {
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
        HeapUnlock(GetProcessHeap());
    }
    return ExceptionContinueSearch;
}

#ifdef _WIN64
namespace {
// The handler is named by the function's unwind data; the nop keeps the return address of the
// faulting call inside this function, so that its frame is the one unwound.
__attribute__((noinline, noclone)) void FaultReleasingOnUnwind() {
    __asm__ __volatile__(".seh_handler HeapUnlockOnUnwind, @unwind, @except");
    WriteNowhere();
    __asm__ __volatile__("nop");
}
} // namespace
#else
namespace {
struct UnwindFrame {
    UnwindFrame* previous;
    void* handler;
};

__attribute__((noinline)) void FaultReleasingOnUnwind() {
    UnwindFrame frame = {nullptr, reinterpret_cast<void*>(HeapUnlockOnUnwind)};
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(frame.previous));
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&frame) : "memory");
    WriteNowhere();
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(frame.previous) : "memory");
}
} // namespace
#endif

void LockHeapThenFault(bool releaseOnUnwind) {
    HeapLock(GetProcessHeap());
    if (releaseOnUnwind) {
        FaultReleasingOnUnwind();
    } else {
        WriteNowhere();
    }
    HeapUnlock(GetProcessHeap()); // never reached
}

namespace {
DWORD WINAPI AllocateFromHeap(void*) {
    HeapFree(GetProcessHeap(), 0, HeapAlloc(GetProcessHeap(), 0, 1 << 20));
    return 0;
}
} // namespace

void DeadlockOnHeapLock() {
    HeapLock(GetProcessHeap());
    WaitForSingleObject(CreateThread(nullptr, 0, AllocateFromHeap, nullptr, 0, nullptr), INFINITE);
}

void Breakpoint() { __debugbreak(); }

#ifdef _WIN64
extern "C" LONG OwnFaultFilter(EXCEPTION_POINTERS*, void*) { return EXCEPTION_EXECUTE_HANDLER; }

namespace {
thread_local bool handled = false;

__attribute__((noinline, noclone)) void TryWrite() {
    // clang-format off
    __try1(OwnFaultFilter)
    WriteNowhere();
    handled = false;  // skipped when the write faults
    __except1
    // clang-format on
}
} // namespace

bool RaiseAndHandleOwnFault() {
    handled = true;
    TryWrite();
    return handled;
}
#else
namespace {
struct OwnFrame {
    OwnFrame* previous;
    void* handler;
    void* resume[5];
};
} // namespace

extern "C" EXCEPTION_DISPOSITION __cdecl OwnFaultHandler(EXCEPTION_RECORD* record, void* frame,
                                                         CONTEXT*, void*) {
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
        return ExceptionContinueSearch;
    }
    __builtin_longjmp(static_cast<OwnFrame*>(frame)->resume, 1);
}

bool RaiseAndHandleOwnFault() {
    OwnFrame frame = {};
    frame.handler = reinterpret_cast<void*>(OwnFaultHandler);
    bool handled = true;
    if (__builtin_setjmp(frame.resume) == 0) {
        __asm__ __volatile__("movl %%fs:0, %0" : "=r"(frame.previous));
        __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&frame) : "memory");
        WriteNowhere();
        handled = false;
    }
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(frame.previous) : "memory");
    return handled;
}
#endif
#else
#include <unistd.h>

#include <csignal>

bool RaiseAndHandleOwnFault() { return true; }

namespace {
volatile int* volatile nowhere = nullptr;
} // namespace

void LockHeapThenFault(bool) { *nowhere = 1; }

void DeadlockOnHeapLock() {
    for (;;) {
        pause();
    }
}

void Breakpoint() {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ __volatile__("int3");
#else
    std::raise(SIGTRAP);
#endif
}
#endif
