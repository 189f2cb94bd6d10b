// What an effect in the host's own process may do to the host beyond a plain fault: change its
// channel counts, fault with a lock its cleanup gives back, come back late from a call given up.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/support/sample_blocks.h"
#include "audio/block_processing.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_call_watch.h"
#include "tests/core/fixtures.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using HostileEffectTest = EngineTest;

// The counts read as the effect was entered are the only ones the host sizes for; a record that
// says others later is a fault wherever the host meets it. The sanitized build watches for an
// overrun of the host's buffer table.
TEST_F(HostileEffectTest, ChannelCountsChangedAfterTheEntryAreAFault) {
    EXPECT_FALSE(Load("grow_channels")) << "200 and 200 from effOpen on";
    EXPECT_EQ(host.fault.load(), EFFECT_CHANNELS_CHANGED);
    // 2 in and 6 out, then 200 of each: sized for 2 and 6, a fault at the next block. (A fault
    // never frees the library: a variant no test expects unloaded.)
    ASSERT_TRUE(Load("ch_2_6"));
    SetPluginBlockSize(host, 64);
    host.effect->numInputs = host.effect->numOutputs = 200; // the record is the effect's to write
    SetPluginBlockSize(host, 64);
    EXPECT_EQ(std::make_pair(host.sizedInputs, host.sizedOutputs), std::make_pair(2, 6));
    int16_t in[128] = {}, out[128] = {};
    EXPECT_FALSE(ProcessSamples(host, in, out, 64));
    EXPECT_EQ(host.fault.load(), EFFECT_CHANNELS_CHANGED);
}

// A block given up while inside the effect, and another effect loaded meanwhile: when the call
// comes back, late, its fault (slow_crash) is not recorded against the new effect, and its
// block (slow_process) does not move the new effect's position.
TEST_F(HostileEffectTest, ACallGivenUpTouchesNothingWhenItComesBack) {
    SKIP_UNDER_SANITIZERS();
    for (const char* variant : {"slow_process", "slow_crash"}) {
        Listen(variant);
        ASSERT_TRUE(Load(variant));
        SetPluginBlockSize(host, 64);
        pluginActive.store(1);
        std::vector<float*> handedOver;
        int16_t in[128] = {}, out[128] = {};
        std::thread block = InsideTheEffect(
            variant, [&] { ProcessBlock(in, sizeof in, out); }, handedOver);
        ASSERT_TRUE(GiveUpPluginCallAfter(0));
        UnloadPlugin(host);
        ASSERT_TRUE(Load("copy_through"));
        SetPluginBlockSize(host, 64);
        block.join();
        EXPECT_EQ(host.fault.load(), 0u) << variant;
        EXPECT_EQ(host.samplePosition.load(), 0) << variant;
        std::for_each(handedOver.begin(), handedOver.end(), [](float* b) { delete[] b; });
    }
}

#ifdef _WIN32
// Whether another thread gets the process heap within a second. If not, this thread, the one
// the effect faulted on, still holds the heap's lock: it is given back so that the test ends.
bool HeapFreeForOthers() {
    std::atomic<bool> took{false};
    std::thread other([&] {
        HeapFree(GetProcessHeap(), 0, HeapAlloc(GetProcessHeap(), 0, 64));
        took = true;
    });
    for (int ms = 0; ms < 1000 && !took; ms += 10) {
        Sleep(10);
    }
    const bool free = took;
    if (!free) {
        HeapUnlock(GetProcessHeap());
    }
    other.join();
    return free;
}

// The effect takes the heap's lock and faults in a frame whose handler gives the lock back as
// the frame is unwound: the guard unwinds before it resumes, so the heap stays usable.
TEST_F(HostileEffectTest, AFaultUnwindsTheEffectsFramesSoTheirCleanupsRun) {
    ASSERT_TRUE(Load("heap_lock_crash"));
    SetPluginBlockSize(host, 64);
    int16_t in[128] = {}, out[128] = {};
    EXPECT_FALSE(ProcessSamples(host, in, out, 64));
    EXPECT_EQ(host.fault.load(), static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(HeapFreeForOthers()) << "the heap's lock is still held: frames not unwound";
}
#endif

} // namespace
