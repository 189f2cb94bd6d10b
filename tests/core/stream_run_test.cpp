// Runs of the stream own what they use: a run left behind by the window (its thread still
// going) keeps its object and its buffers, and the next run counts and plays on its own. The
// WinMM run's block logic behind a fake playback device; under ASan a run freed early, or a
// buffer shared between runs, shows.
#include <atomic>
#include <thread>
#include <vector>

#include "audio/wave_run.h"
#include "tests/core/fixtures.h"

namespace {

// Headers that the "device" plays at once (every write is played before the next one) or
// never (they stay queued).
struct FakePlayback {
    HeaderState states[BUFFER_COUNT] = {};
    bool playsAtOnce = false;
    std::atomic<uint32_t> writes{0};
};

HeaderState StateOf(void* context, int index) {
    return static_cast<FakePlayback*>(context)->states[index];
}

bool WriteTo(void* context, int index, uint32_t /*bytes*/) {
    auto& device = *static_cast<FakePlayback*>(context);
    device.states[index] = device.playsAtOnce ? HeaderState::Played : HeaderState::Queued;
    device.writes.fetch_add(1);
    return true;
}

constexpr uint32_t FRAMES = 64;
constexpr int16_t SENTINEL = 0x5A5A;

struct TestRun {
    WaveRun run;
    FakePlayback device;
    std::vector<int16_t> blocks[BUFFER_COUNT];
    std::atomic<bool>* freed;
};

void FreeTestRun(StreamRun* base) {
    auto* self = static_cast<TestRun*>(base->system);
    self->freed->store(true);
    delete self;
}

TestRun* NewTestRun(bool playsAtOnce, std::atomic<bool>* freed) {
    auto* self = new TestRun{};
    self->run.base.system = self;
    self->run.base.freeRun = FreeTestRun;
    self->device.playsAtOnce = playsAtOnce;
    self->run.device = {&self->device, StateOf, WriteTo};
    self->freed = freed;
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
    EXPECT_EQ(LiveStreamRuns(), liveBefore + 2);
    const std::vector<int16_t> recorded(2 * FRAMES, 1000);

    uint32_t writesOfA = 0, overrunsOfA = 0; // as its thread last saw them
    HoldRun(a->run.base);                    // its audio thread
    std::thread left([&] {
        for (int round = 0; !letGo.load(); ++round) {
            if (round % 2 == 1) { // one header back now and then: the next drop is a new splice
                a->device.states[a->run.playIndex] = HeaderState::Played;
            }
            PlayCapturedBlock(a->run, recorded.data(), FRAMES * BLOCK_ALIGN);
            std::this_thread::yield();
        }
        writesOfA = a->device.writes.load();
        overrunsOfA = a->run.base.counts.overruns.load();
        ReleaseRun(&a->run.base);
    });
    while (a->device.writes.load() < BUFFER_COUNT) {
        std::this_thread::yield();
    }
    ReleaseRun(&a->run.base); // the window leaves it behind and moves on
    EXPECT_FALSE(freedA.load()) << "freed while its thread runs";

    for (int block = 0; block < 6; ++block) { // A's thread stays held until letGo
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
    EXPECT_GE(overrunsOfA, 6u) << "A's thread went on beside B";
    EXPECT_EQ(b->run.base.counts.underruns.load(), 5u) << "every write after the first";
    EXPECT_EQ(b->run.base.counts.overruns.load(), 0u) << "none of A's";
    EXPECT_EQ(b->device.writes.load(), 7u) << "six blocks and the one cushion";
    EXPECT_EQ(b->run.playIndex, 7);
    EXPECT_EQ(b->blocks[7], std::vector<int16_t>(2 * FRAMES, SENTINEL)) << "never written";
    ReleaseRun(&b->run.base);
    EXPECT_TRUE(freedB.load());
    EXPECT_EQ(LiveStreamRuns(), liveBefore);
}

} // namespace
