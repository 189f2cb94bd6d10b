// Faults as signals: each guarded call leaves a jump point in its thread, and the handler,
// running on an alternate stack so that a stack overflow can be caught too, jumps back to
// it. A signal outside any guarded call goes to whoever handled it before (the sanitizers,
// or the default action).
#include "platform/platform.h"

#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <mutex>

namespace {

// SIGTRAP: a breakpoint instruction left in a plug-in, with no debugger to take it.
constexpr int GUARDED_SIGNALS[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
constexpr size_t SIGNAL_COUNT = sizeof GUARDED_SIGNALS / sizeof *GUARDED_SIGNALS;
constexpr size_t ALTERNATE_STACK_BYTES = 64 * 1024;

struct sigaction previous[SIGNAL_COUNT];
thread_local sigjmp_buf* jumpPoint = nullptr;

void OnFault(int signal, siginfo_t* info, void* context) {
    if (jumpPoint != nullptr) {
        siglongjmp(*jumpPoint, signal);
    }
    for (size_t i = 0; i < SIGNAL_COUNT; ++i) {
        if (GUARDED_SIGNALS[i] != signal) {
            continue;
        }
        if (previous[i].sa_flags & SA_SIGINFO) {
            previous[i].sa_sigaction(signal, info, context);
        } else if (previous[i].sa_handler != SIG_IGN && previous[i].sa_handler != SIG_DFL) {
            previous[i].sa_handler(signal);
        } else {
            std::signal(signal, SIG_DFL);  // returning re-raises it with the default action
        }
    }
}

void InstallHandlers() {
    struct sigaction action = {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < SIGNAL_COUNT; ++i) {
        sigaction(GUARDED_SIGNALS[i], &action, &previous[i]);
    }
}

// A thread's alternate stack lives as long as the thread may take a signal: never freed. One
// that is there already (the sanitizers set their own) is kept.
void EnsureAlternateStack() {
    thread_local bool ready = false;
    if (!ready) {
        stack_t stack = {};
        if (sigaltstack(nullptr, &stack) == 0 && (stack.ss_flags & SS_DISABLE) == 0) {
            ready = true;
            return;
        }
        stack.ss_flags = 0;
        stack.ss_sp = std::malloc(ALTERNATE_STACK_BYTES);
        stack.ss_size = ALTERNATE_STACK_BYTES;
        ready = stack.ss_sp != nullptr && sigaltstack(&stack, nullptr) == 0;
    }
}

}  // namespace

uint32_t GuardedCall(GuardedProc call, void* context) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandlers);
    EnsureAlternateStack();
    sigjmp_buf here;
    sigjmp_buf* const outer = jumpPoint;
    // The mask is not saved (a system call per block): the handler runs with SA_NODEFER, so a
    // jump out of it leaves the mask as it was.
    const int signal = sigsetjmp(here, 0);
    if (signal == 0) {
        jumpPoint = &here;
        call(context);
    }
    jumpPoint = outer;
    return static_cast<uint32_t>(signal);
}
