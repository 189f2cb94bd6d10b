// The playback queue against a device that plays a block for every block captured (one clock):
// the start's surplus beyond the target is gone within the first second, in the fade-in, and every
// frame that is not dropped passes bit for bit; later, only a surplus that stays beyond two blocks
// is cut, and that is a splice.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <tuple>
#include <vector>

#include "audio/playback_queue.h"

namespace {

constexpr uint32_t BLOCK = 441, TARGET = 573;

struct Played {
    uint32_t held;           // what the device holds at the end
    uint32_t dropped;        // frames that did not come out
    uint32_t spliced;        // of them, after the first second
    bool everyFrameAsItCame; // what came out is the input less the dropped frames
};

// blocks blocks of a ramp, the queue putting fill frames ahead, the device holding startHeld
// frames more, and surplus more from block surplusAt on (a late wake-up's burst).
Played Play(uint32_t fill, uint32_t startHeld, uint32_t blocks, uint32_t surplusAt,
            uint32_t surplus) {
    PlaybackQueue queue;
    // The corrector's own test is elsewhere.
    queue.Start({TARGET, BLOCK, fill, PlaybackQueue::MAX_RAISES, {4.0 * BLOCK, 8.0 * BLOCK, 0.1}});
    uint32_t held = startHeld + queue.TakeStartFill();
    Played result = {0, 0, 0, true};
    std::vector<int16_t> in(2 * BLOCK), out(2 * PlaybackQueue::MaxOutputFrames(BLOCK));
    for (uint32_t b = 0; b < blocks; ++b) {
        held += b == surplusAt ? surplus : 0;
        std::iota(in.begin(), in.end(), static_cast<int16_t>(in.size() * b)); // one long ramp
        const uint32_t n = queue.Process(in.data(), BLOCK, held, out.data());
        result.dropped += BLOCK - n;
        result.spliced += queue.SplicedFrames();
        result.everyFrameAsItCame = result.everyFrameAsItCame && n <= BLOCK &&
                                    std::equal(out.begin(), out.begin() + 2 * n, in.end() - 2 * n);
        held = held + n - BLOCK; // the device played a block meanwhile
    }
    EXPECT_TRUE(queue.Bypassed()) << "one clock: nothing resampled";
    EXPECT_EQ(queue.TakeStartFill(), 0u) << "the start's fill is put ahead once";
    result.held = held;
    return result;
}

TEST(PlaybackQueue, TrimsTheStartWithinASecondAndLaterOnlyASurplusThatStays) {
    const struct {
        uint32_t fill, startHeld, surplusAt, surplus, spliced, level, dropped;
    } cases[] = {
        {TARGET, 0, 0, 0, 0, TARGET, 0},                 // at its target from the start
        {TARGET, 3 * BLOCK, 0, 0, 0, TARGET, 3 * BLOCK}, // a burst at the start: trimmed
        {TARGET, 0, 300, 2 * BLOCK, 0, TARGET, 0},       // two blocks later: left to the corrector
        {TARGET, 0, 300, 5 * BLOCK, 5 * BLOCK, TARGET, 5 * BLOCK}, // more: one splice
        {TARGET, 2 * BLOCK, 300, 5 * BLOCK, 5 * BLOCK, TARGET, 7 * BLOCK},
        {TARGET + BLOCK, 0, 0, 0, 0, TARGET, 0},                 // never more than the target
        {BLOCK, 0, 0, 0, 0, BLOCK, 0},                           // a short fill is left as it is
        {BLOCK, 3 * BLOCK, 0, 0, 0, TARGET, 4 * BLOCK - TARGET}, // a burst tops it up
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fill << " put ahead, " << c.startHeld << " more, "
                                        << c.surplus << " at " << c.surplusAt);
        EXPECT_EQ(Play(c.fill, c.startHeld, 101, 0, 0).held, c.level) << "after the first second";
        const Played p = Play(c.fill, c.startHeld, 500, c.surplusAt, c.surplus);
        EXPECT_EQ(std::make_tuple(p.held, p.spliced, p.dropped, p.everyFrameAsItCame),
                  std::make_tuple(c.level + c.surplus - c.spliced, c.spliced, c.dropped, true));
    }
}

// A break while the start settles raises the queue by a block only as often as the system's
// settings say, once it has stood at its target: beyond that it was emptied by the capture's
// start (a burst, then a gap) rather than by a machine that needs more. A queue that never stood
// at its target, and every break after the first second, raise it up to MAX_RAISES.
TEST(PlaybackQueue, RaisesWhileTheStartSettlesOnlyAsOftenAsTheSettingsOrALowQueueSay) {
    const struct {
        const char* name;
        uint32_t settlingRaises, held, blocksBefore, breaks, raised;
    } rows[] = {
        {"settling, stood at its target, one raise allowed", 1, BLOCK, 10, 2, 1},
        {"settling, stood at its target, none allowed", 0, BLOCK, 10, 1, 0},
        {"settling, never at its target", 0, 0, 10, 3, PlaybackQueue::MAX_RAISES},
        {"settled, stood at its target", 0, BLOCK, 101, 3, PlaybackQueue::MAX_RAISES},
    };
    for (const auto& row : rows) {
        PlaybackQueue queue;
        queue.Start({TARGET, BLOCK, 0, row.settlingRaises, {4.0 * BLOCK, 8.0 * BLOCK, 0.1}});
        for (uint32_t b = 0; b < row.blocksBefore; ++b) {
            queue.Count(BLOCK, row.held);
        }
        uint32_t raised = 0;
        for (uint32_t b = 0; b < row.breaks; ++b) {
            raised += queue.Raise(BLOCK) ? 1 : 0;
        }
        EXPECT_EQ(std::make_tuple(raised, queue.TargetFrames()),
                  std::make_tuple(row.raised, TARGET + row.raised * BLOCK))
            << row.name;
    }
}

// A wake-up gap the queue cannot ride out is a stall of the process, one break: the burst the
// capture then brings is kept as delay, in whole blocks beyond what was ridden out, so that a
// like stall later passes; up to ten blocks a run, beyond which a burst is spliced as before.
TEST(PlaybackQueue, KeepsWhatAStallBringsUpToTenBlocks) {
    const struct {
        const char* name;
        uint32_t blocksBefore; // 101: the start has settled
        std::vector<uint64_t> gaps;
        uint32_t burst, stalls, raisedBlocks, splicedBlocks; // the corrector may take a few frames
    } rows[] = {
        {"while the start settles", 10, {20 * BLOCK}, 0, 0, 0, 0},
        {"ridden out", 101, {2 * BLOCK, BLOCK}, 0, 0, 0, 0},
        {"just beyond", 101, {2 * BLOCK + 1}, BLOCK, 1, 1, 0},
        {"its excess in whole blocks", 101, {4 * BLOCK + BLOCK / 2}, 5 * BLOCK / 2, 1, 3, 0},
        {"a like stall then passes", 101, {3 * BLOCK, 3 * BLOCK}, BLOCK, 1, 1, 0},
        {"a longer one raises again", 101, {3 * BLOCK, 5 * BLOCK}, 3 * BLOCK, 2, 3, 0},
        {"at most ten blocks", 101, {30 * BLOCK, 30 * BLOCK}, 28 * BLOCK, 2, 10, 18},
    };
    for (const auto& row : rows) {
        PlaybackQueue queue;
        queue.Start({TARGET, BLOCK, 0, PlaybackQueue::MAX_RAISES, {4.0 * BLOCK, 8.0 * BLOCK, 0.1}});
        uint32_t held = TARGET, stalls = 0, spliced = 0;
        for (uint32_t b = 0; b < row.blocksBefore; ++b) {
            queue.Count(BLOCK, held);
        }
        for (const uint64_t gap : row.gaps) {
            stalls += queue.NoteWakeUpGap(gap) ? 1 : 0;
        }
        held += row.burst;
        for (uint32_t b = 0; b < 200; ++b) {
            held = held + queue.Count(BLOCK, held) - BLOCK;
            spliced += queue.SplicedFrames();
        }
        EXPECT_EQ(std::make_tuple(stalls, queue.TargetFrames(), (spliced + BLOCK / 2) / BLOCK),
                  std::make_tuple(row.stalls, TARGET + row.raisedBlocks * BLOCK, row.splicedBlocks))
            << row.name;
    }
}

} // namespace
