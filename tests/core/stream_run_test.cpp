// Runs own what they use: a run left behind by the window (its thread still going) keeps its
// object and buffers, and the next run counts and plays on its own. The WinMM block logic
// behind a fake playback device; under ASan a run freed early or a buffer shared shows.
#include <atomic>
#include <thread>
#include <vector>

#include "audio/wave_run.h"
#include "tests/core/fixtures.h"

namespace {

constexpr uint32_t FRAMES = 64;
constexpr int16_t SENTINEL = 0x5A5A;

// A run whose "device" plays each header at once, or keeps it queued.
struct TestRun {
    WaveRun run;
    HeaderState states[BUFFER_COUNT];
    bool playsAtOnce;
    std::atomic<uint32_t> writes;
    std::vector<int16_t> blocks[BUFFER_COUNT], processed = std::vector<int16_t>(2 * FRAMES);
    std::atomic<bool>* freed;
};

TestRun* NewTestRun(bool playsAtOnce, std::atomic<bool>* freed) {
    auto* self = new TestRun{};
    self->run.base.system = self;
    self->run.base.freeRun = [](StreamRun* base) {
        static_cast<TestRun*>(base->system)->freed->store(true);
        delete static_cast<TestRun*>(base->system);
    };
    const auto state = [](void* to, int i) { return static_cast<TestRun*>(to)->states[i]; };
    const auto write = [](void* to, int i, uint32_t) {
        auto* device = static_cast<TestRun*>(to);
        device->states[i] = device->playsAtOnce ? HeaderState::Played : HeaderState::Queued;
        device->writes.fetch_add(1);
        return true;
    };
    self->run.device = {self, state, write, nullptr};
    self->playsAtOnce = playsAtOnce;
    self->freed = freed;
    self->run.processed = self->processed.data();
    // Never trimmed here.
    self->run.base.queue.Start(
        {BUFFER_COUNT * FRAMES, FRAMES, 0, true, {FRAMES, 2.0 * FRAMES, 0.1}});
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        self->blocks[i].assign(2 * FRAMES, SENTINEL);
        self->run.playback[i] = self->blocks[i].data();
    }
    return self;
}

using StreamRunTest = EngineTest;

TEST_F(StreamRunTest, ARunLeftBehindKeepsItsObjectAndTheNextRunCountsOnItsOwn) {
    const uint32_t liveBefore = LiveStreamRuns();
    std::atomic<bool> freedA{false}, freedB{false}, letGo{false};
    TestRun* a = NewTestRun(false, &freedA); // its device hardly plays: blocks are dropped
    TestRun* b = NewTestRun(true, &freedB);  // plays at once: every later write ran dry
    const std::vector<int16_t> recorded(2 * FRAMES, 1000);
    uint32_t writesOfA = 0; // as its thread last saw them
    HoldRun(a->run.base);   // its audio thread
    std::thread left([&] {
        for (int round = 0; !letGo.load(); ++round) {
            if (round % 2 == 1) { // a header back now and then: the next drop is a new splice
                a->states[a->run.playIndex] = HeaderState::Played;
            }
            PlayCapturedBlock(a->run, recorded.data(), FRAMES * BLOCK_ALIGN);
        }
        writesOfA = a->writes.load();
        ReleaseRun(&a->run.base);
    });
    while (a->writes.load() < BUFFER_COUNT) {
        std::this_thread::yield();
    }
    ReleaseRun(&a->run.base); // the window leaves it behind and moves on
    EXPECT_FALSE(freedA.load()) << "freed while its thread runs";
    for (int block = 0; block < 6; ++block) { // each beside a drop of A's
        const uint32_t before = a->run.base.counts.overruns.load();
        while (a->run.base.counts.overruns.load() == before) {
            std::this_thread::yield();
        }
        ASSERT_TRUE(PlayCapturedBlock(b->run, recorded.data(), FRAMES * BLOCK_ALIGN));
    }
    letGo.store(true);
    left.join();

    EXPECT_TRUE(freedA.load()) << "the last holder let go";
    EXPECT_GT(writesOfA, static_cast<uint32_t>(BUFFER_COUNT));
    EXPECT_EQ(b->run.base.counts.underruns.load(), 5u) << "every write after the first";
    EXPECT_EQ(b->run.base.counts.overruns.load(), 0u) << "none of A's";
    EXPECT_EQ(b->writes.load(), 8u) << "six blocks and two cushions";
    EXPECT_EQ(b->blocks[0], std::vector<int16_t>(2 * FRAMES, 1000)) << "the first block";
    ReleaseRun(&b->run.base);
    EXPECT_EQ(std::make_pair(freedB.load(), LiveStreamRuns()), std::make_pair(true, liveBefore));
}

} // namespace
