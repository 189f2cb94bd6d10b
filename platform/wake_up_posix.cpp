#include "platform/wake_up.h"

#include <cerrno>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Shared (not private) futex calls: the word lives in memory of two processes.
long Futex(uint32_t* word, int op, uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

} // namespace

bool WakeUpCreate(WakeUp* wake, const char* /*name*/, uint32_t* word) {
    *wake = WakeUp{};
    wake->word = word;
    __atomic_store_n(word, 0u, __ATOMIC_RELEASE);
    return word != nullptr;
}

bool WakeUpOpen(WakeUp* wake, const char* /*name*/, uint32_t* word) {
    *wake = WakeUp{};
    wake->word = word;
    return word != nullptr;
}

void WakeUpSignal(WakeUp* wake) {
    __atomic_store_n(wake->word, 1u, __ATOMIC_RELEASE);
    Futex(wake->word, FUTEX_WAKE, 1, nullptr);
}

bool WakeUpWait(WakeUp* wake, uint32_t ms) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    for (;;) {
        // Any word but 0 is a signal: one written otherwise (a broken peer's) wakes the waiter,
        // whose caller judges it, instead of keeping this loop from ever sleeping.
        if (__atomic_exchange_n(wake->word, 0u, __ATOMIC_ACQ_REL) != 0u) {
            return true;
        }
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        timespec left = {deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0) {
            left.tv_sec -= 1;
            left.tv_nsec += 1000000000L;
        }
        if (left.tv_sec < 0) {
            return false;
        }
        // Sleeps only while the word is still 0: a signal between the look and here is kept.
        if (Futex(wake->word, FUTEX_WAIT, 0u, &left) != 0 && errno != EAGAIN && errno != EINTR &&
            errno != ETIMEDOUT) {
            return false;
        }
    }
}

WakeUpEnd WakeUpWaitFor(WakeUp* wake, const ChildProcess* watched, uint32_t ms, bool /*pump*/) {
    // A futex cannot be waited on together with a process: the process is looked at between
    // slices this short, so its end is noticed within one of them.
    constexpr uint32_t SLICE_MS = 2;
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t spent =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        const uint32_t left = spent >= ms ? 0u : ms - static_cast<uint32_t>(spent);
        if (WakeUpWait(wake, watched != nullptr && left > SLICE_MS ? SLICE_MS : left)) {
            return WakeUpEnd::Signalled;
        }
        if (watched != nullptr && ProcessLook(watched).kind != ProcessEndKind::Running) {
            return WakeUpEnd::ProcessEnded;
        }
        if (left == 0) {
            return WakeUpEnd::TimedOut;
        }
    }
}

void WakeUpClose(WakeUp* wake) {
    *wake = WakeUp{};
}
