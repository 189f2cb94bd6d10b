// Faults inside a guarded call come back as its result, and the thread goes on. Signals
// belong to the sanitizers in their build, so these run in the plain builds only.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/sample_blocks.h"
#include "audio/block_processing.h"
#include "platform/platform.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_state.h"
#include "tests/core/fixtures.h"

namespace {

using PluginFaultTest = EngineTest;

#ifdef _WIN32
constexpr uint32_t ACCESS = 0xC0000005, ILLEGAL = 0xC000001D, DIVIDE = 0xC0000094,
                   OVERFLOW = 0xC00000FD, BREAKPOINT = 0x80000003;
#else
constexpr uint32_t ACCESS = 11 /* SIGSEGV */, ILLEGAL = 4 /* SIGILL */, DIVIDE = 8 /* SIGFPE */,
                   OVERFLOW = 11, BREAKPOINT = 5 /* SIGTRAP */;
#endif

// What the effect tests below do not reach: an illegal instruction, a call that does not fault,
// and a fault in a nested guarded call, which ends only that one. (Access, division and stack
// faults, twenty in a row on one thread, are the effect tests'.)
TEST(GuardedCallFaultTest, EachFaultIsReturnedAndANestedOneEndsOnlyItsOwnCall) {
    SKIP_UNDER_SANITIZERS();
    int zero = 0;
    EXPECT_EQ(GuardedCall([](void*) { __builtin_trap(); }, nullptr), ILLEGAL);
    EXPECT_EQ(GuardedCall([](void* z) { ++*static_cast<int*>(z); }, &zero), 0u);
    EXPECT_EQ(zero, 1);
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

// A faulting effect: the block is declined (and played as silence), the stream goes over to
// the stage, the effect is never called again, not even to close it, and its library is
// never freed; twenty faults in a row leave the host as it was. On a thread of its own, as
// the audio thread is, for the stack overflow.
TEST_F(PluginFaultTest, AFaultingEffectIsCutLooseAndNeverCalledAgain) {
    SKIP_UNDER_SANITIZERS();
    const std::pair<const char*, uint32_t> cases[] = {
        {"crash_process", ACCESS},
        {"divide_process", DIVIDE},
        {"overflow_process", OVERFLOW},
        {"break_process", BREAKPOINT /* left in, with no debugger to take it */}};
    std::thread([&] {
        for (const auto& c : cases) {
            for (int round = 0; round < 20; ++round) {
                Listen(c.first);
                ASSERT_TRUE(Load(c.first));
                SetPluginBlockSize(host, 64);
                pluginActive.store(1);
                int16_t in[128] = {}, out[128] = {};
                for (int block = 0; block < 10 && ProcessSamples(host, in, out, 64); ++block) {
                }
                EXPECT_EQ(host.fault.load(), c.second) << c.first;
                EXPECT_EQ(pluginActive.load(), 0);
                const size_t lines = Log(c.first).size();
                EXPECT_FALSE(ProcessSamples(host, in, out, 64));
                SetPluginBlockSize(host, 32);
                UnloadPlugin(host);
                EXPECT_EQ(Log(c.first).size(), lines) << "called after its fault";
                EXPECT_NE(Log(c.first).back(), "detach") << "its library freed";
            }
        }
    }).join();
    // A fault while loading is a failed load, and the next load starts clean.
    Listen("crash_open");
    EXPECT_FALSE(Load("crash_open"));
    EXPECT_EQ(host.fault.load(), ACCESS);
    EXPECT_EQ(Log("crash_open"), (Lines{"attach", "entry VSTPluginMain", Call(effOpen)}));
    EXPECT_EQ(std::make_pair(static_cast<void*>(host.effect), static_cast<void*>(host.module)),
              std::make_pair(static_cast<void*>(nullptr), static_cast<void*>(nullptr)));
    ASSERT_TRUE(Load("copy_through"));
    EXPECT_EQ(host.fault.load(), 0u);
}

// An effect that raises and handles its own access violation in every block is no fault.
TEST_F(PluginFaultTest, AnEffectThatHandlesItsOwnFaultsKeepsWorking) {
    SKIP_UNDER_SANITIZERS();
    Listen("own_fault");
    ASSERT_TRUE(Load("own_fault"));
    SetPluginBlockSize(host, 64);
    int16_t in[128] = {}, out[128] = {};
    for (int block = 0; block < 5; ++block) {
        ASSERT_TRUE(ProcessSamples(host, in, out, 64)) << block;
    }
    EXPECT_EQ(host.fault.load(), 0u);
    const Lines log = Log("own_fault");
    EXPECT_EQ(std::count(log.begin(), log.end(), "own fault handled"), 5);
}

// An effect that hands over a chunk at an address nobody may read: the copy faults inside the
// guard, no state is kept and the effect is cut loose, never the program.
TEST_F(PluginFaultTest, AChunkAtAnUnreadableAddressIsAFaultNotACrash) {
    SKIP_UNDER_SANITIZERS();
    ASSERT_TRUE(Load("bad_chunk"));
    std::vector<uint8_t> state;
    EXPECT_FALSE(CaptureEffectState(host, state));
    EXPECT_EQ(host.fault.load(), ACCESS);
}

// A block that stays inside the effect is given up, three times in a row: the effect is cut
// loose as hung and its buffers go to the stuck call, never freed; the block's thread, when it
// comes back, plays nothing and the effect is not called again. A slow block within its limit
// is no hang. No signals here, so the sanitized build watches the late return too.
TEST_F(PluginFaultTest, ABlockThatStaysInsideTheEffectIsGivenUp) {
    for (int round = 0; round < 4; ++round) {
        const bool givenUp = round < 3;
        Listen("slow_process");
        ASSERT_TRUE(Load("slow_process"));
        SetPluginBlockSize(host, 64);
        pluginActive.store(1);
        std::vector<float*> handedOver;
        int16_t in[128] = {}, out[128] = {};
        std::atomic<int> played{-1};
        std::thread block = InsideTheEffect(
            "slow_process", [&] { played = ProcessBlock(in, sizeof in, out) ? 1 : 0; }, handedOver);
        EXPECT_FALSE(GiveUpPluginCallAfter(10000)) << "given up before its limit";
        EXPECT_EQ(GiveUpPluginCallAfter(givenUp ? 0 : 10000), givenUp);
        EXPECT_EQ(
            std::make_tuple(host.fault.load(), pluginActive.load(), host.buffers[0] == nullptr),
            std::make_tuple(givenUp ? EFFECT_HUNG : 0u, givenUp ? 0 : 1, givenUp));
        if (!givenUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            EXPECT_FALSE(GiveUpPluginCallAfter(PluginHangLimitMs(10)))
                << "60 ms is slower than two 10 ms buffers, but within the 2 s floor";
            block.join(); // a block inside a live effect is waited for, as the window does
        }
        UnloadPlugin(host);
        if (givenUp) { // the buffers it was handed are the test's to free once it is back
            block.join();
            std::for_each(handedOver.begin(), handedOver.end(), [](float* b) { delete[] b; });
        }
        EXPECT_EQ(played.load(), givenUp ? 0 : 1) << round;
        const std::string last = Log("slow_process").back();
        EXPECT_EQ(givenUp ? last.substr(0, 7) : last, givenUp ? "process" : Call(effClose))
            << "called after it was given up, or not closed when it came back in time";
    }
}

} // namespace
