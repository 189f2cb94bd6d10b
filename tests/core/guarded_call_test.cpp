// Faults inside a guarded call come back as its result, and the thread goes on. Signals
// belong to the sanitizers in their build, so these run in the plain builds only.
#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "the sanitizers own the fault signals"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

#ifdef _WIN32
constexpr uint32_t ACCESS = 0xC0000005, ILLEGAL = 0xC000001D, DIVIDE = 0xC0000094,
                   OVERFLOW = 0xC00000FD;
#else
constexpr uint32_t ACCESS = 11 /* SIGSEGV */, ILLEGAL = 4 /* SIGILL */, DIVIDE = 8 /* SIGFPE */,
                   OVERFLOW = 11;
#endif

volatile int bottom = -1; // never reached: the recursion has no end the compiler can see

int Deeper(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return depth == bottom ? 0 : Deeper(depth + 1) + frame[0];
}

TEST(GuardedCallFaultTest, EachFaultIsReturnedAndTheThreadGoesOn) {
    SKIP_UNDER_SANITIZERS();
    const std::pair<GuardedProc, uint32_t> cases[] = {
        {[](void*) { *reinterpret_cast<volatile int*>(16) = 1; }, ACCESS},
        {[](void*) { __builtin_trap(); }, ILLEGAL},
        {[](void* zero) {
             *static_cast<volatile int*>(zero) = 7 / *static_cast<volatile int*>(zero);
         },
         DIVIDE},
        {[](void* zero) { ++*static_cast<int*>(zero); }, 0}};
    for (int round = 0; round < 3; ++round) { // twice more: each fault left the guard whole
        for (const auto& c : cases) {
            int zero = 0;
            EXPECT_EQ(GuardedCall(c.first, &zero), c.second) << round;
        }
    }
    // A stack overflow, on a thread of its own as the audio thread is (Wine cannot report one
    // on the main thread of a 64-bit program), three times: the stack's guard comes back.
    std::thread([] {
        for (int round = 0; round < 3; ++round) {
            EXPECT_EQ(GuardedCall([](void*) { Deeper(0); }, nullptr), OVERFLOW) << round;
        }
    }).join();
    // A fault in a nested guarded call ends only that one.
    uint32_t inner = 0;
    EXPECT_EQ(GuardedCall(
                  [](void* result) {
                      *static_cast<uint32_t*>(result) = GuardedCall(
                          [](void*) { *reinterpret_cast<volatile int*>(16) = 1; }, nullptr);
                  },
                  &inner),
              0u);
    EXPECT_EQ(inner, ACCESS);
}

} // namespace
