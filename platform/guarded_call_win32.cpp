// Faults as structured exceptions, caught by a handler of the guarded call's own frame (never
// a vectored handler, which would also see the exceptions a plug-in raises and handles on
// purpose: probes of memory or processor features, its own __try blocks). MinGW's compiler
// has no __try: on 32-bit the frame registers its handler in the thread's chain itself, on
// 64-bit the function's unwind data names a scope handler. Both unwind the frames between the
// fault and the guard before resuming (on 64-bit the scope handler does it), so that the
// plug-in's own cleanups run.
#include "platform/platform.h"

#include <windows.h>
#include <excpt.h>
#include <malloc.h>

namespace {

// Errors, and a breakpoint or single step no debugger took: the other informational and
// warning codes (a debugger's output, thread names) are raised and handled as part of normal
// work.
bool IsFault(DWORD code) {
    return (code & 0xC0000000u) == 0xC0000000u || code == EXCEPTION_BREAKPOINT ||
           code == EXCEPTION_SINGLE_STEP;
}

}  // namespace

#if defined(_WIN64)

namespace {
thread_local DWORD faultCode = 0;
}  // namespace

// The filter the scope handler consults; a fault ends the guarded call at its end label.
extern "C" LONG GuardFilter(EXCEPTION_POINTERS* pointers, void* /*frame*/) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (!IsFault(code)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    faultCode = code;
    return EXCEPTION_EXECUTE_HANDLER;
}

namespace {

// One scope per translation unit (its labels are fixed names): this is the only one.
__attribute__((noinline, noclone)) void RunGuarded(GuardedProc call, void* context) {
    __try1(GuardFilter) call(context);
    __except1
}

}  // namespace

uint32_t GuardedCall(GuardedProc call, void* context) {
    const DWORD outer = faultCode;
    faultCode = 0;
    RunGuarded(call, context);
    const DWORD code = faultCode;
    faultCode = outer;
    if (code == static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW)) {
        _resetstkoflw();  // the guard page was used up: put it back for the next overflow
    }
    return code;
}

#else

namespace {

// An exception registration record as the system walks them, with where to resume.
struct GuardFrame {
    GuardFrame* previous;
    void* handler;
    void* resume[5];  // __builtin_setjmp's buffer
    DWORD code;
};

// Unwinds the frames registered above the guard's, running their handlers as unwinding ones
// (the plug-in's __finally blocks and cleanups: a lock they give back is given back), and takes
// them off the chain. RtlUnwind may not keep ebx, esi and edi: the clobbers make this function
// save and restore them.
__attribute__((noinline)) void UnwindFramesAbove(GuardFrame* guard, EXCEPTION_RECORD* record) {
    __asm__ __volatile__("" : : : "ebx", "esi", "edi", "memory");
    RtlUnwind(guard, nullptr, record, nullptr);
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* frame,
                                                      CONTEXT* /*context*/, void* /*dispatch*/) {
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
        !IsFault(record->ExceptionCode)) {
        return ExceptionContinueSearch;
    }
    GuardFrame* guard = static_cast<GuardFrame*>(frame);
    guard->code = record->ExceptionCode;
    UnwindFramesAbove(guard, record);
    __builtin_longjmp(guard->resume, 1);
}

}  // namespace

uint32_t GuardedCall(GuardedProc call, void* context) {
    GuardFrame guard = {};
    guard.handler = reinterpret_cast<void*>(GuardHandler);
    if (__builtin_setjmp(guard.resume) == 0) {
        __asm__ __volatile__("movl %%fs:0, %0" : "=r"(guard.previous));
        __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&guard) : "memory");
        call(context);
    }
    // Normally, and after a fault once the frames above are unwound, the chain is back at this
    // frame: it is set to what it was before the call.
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(guard.previous) : "memory");
    if (guard.code == static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW)) {
        _resetstkoflw();
    }
    return guard.code;
}

#endif
