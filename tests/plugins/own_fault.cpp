// The effect's own handler sits in a frame inside the host's guard, so the system offers the
// fault to it first: the host must never see it.
#include "tests/plugins/own_fault.h"

#ifdef _WIN32
#include <windows.h>
#include <excpt.h>

namespace {

volatile int* volatile nowhere = nullptr;

__attribute__((noinline)) void WriteNowhere() { *nowhere = 1; }

} // namespace

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
bool RaiseAndHandleOwnFault() { return true; }
#endif
