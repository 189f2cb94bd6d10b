#include "audio/playback_queue.h"

#include <algorithm>
#include <cstring>

#include "audio/audio_format.h"

namespace {

// The lowest fill is judged over windows: short while the start settles (the first second),
// so that it is trimmed within it; long afterwards, so that only a delay that stays is cut.
constexpr uint32_t SETTLE_WINDOWS = 5;
constexpr uint32_t SETTLE_WINDOW_FRAMES = SAMPLE_RATE / SETTLE_WINDOWS;
constexpr uint32_t WINDOW_FRAMES = SAMPLE_RATE / 2;
constexpr uint32_t LATER_SLACK_BLOCKS = 2;
// A block between two wake-ups is the rule, and the target holds about one more: a gap beyond
// two blocks and what the queue has been raised by outlasted all that was queued.
constexpr uint64_t RIDDEN_OUT_BLOCKS = 2;

} // namespace

void PlaybackQueue::Start(const QueueSettings& settings) {
    target_ = startTarget_ = settings.targetFrames;
    blockFrames_ = settings.blockFrames;
    correctorSettings_ = settings.corrector;
    startFill_ = settings.startFillFrames < target_ ? settings.startFillFrames : target_;
    settleWindowsLeft_ = SETTLE_WINDOWS;
    raises_ = 0;
    settlingRaises_ = settings.settlingRaises;
    stoodAtTarget_ = false;
    windowFrames_ = windowBlocks_ = 0;
    lowest_ = UINT32_MAX;
    onTheirWaySum_ = 0.0;
    lastLowest_ = dropDue_ = spliced_ = 0;
    correcting_ = false;
}

uint32_t PlaybackQueue::TakeStartFill() {
    const uint32_t fill = startFill_;
    startFill_ = 0;
    return fill;
}

bool PlaybackQueue::Raise(uint32_t frames) {
    const bool settlingAfterTarget = !correcting_ && stoodAtTarget_;
    if (raises_ == MAX_RAISES || (settlingAfterTarget && raises_ >= settlingRaises_)) {
        return false;
    }
    ++raises_;
    target_ += frames;
    if (correcting_) {
        corrector_.MoveTarget(frames);
    }
    return true;
}

bool PlaybackQueue::NoteWakeUpGap(uint64_t gapFrames) {
    const uint64_t raised = target_ - startTarget_;
    const uint64_t riddenOut = RIDDEN_OUT_BLOCKS * blockFrames_ + raised;
    if (!correcting_ || gapFrames <= riddenOut) {
        return false;
    }
    const uint64_t room = static_cast<uint64_t>(MAX_RAISED_BLOCKS) * blockFrames_;
    const uint64_t left = room > raised ? room - raised : 0;
    const uint64_t excess = gapFrames - riddenOut;
    const uint64_t frames =
        std::min((excess + blockFrames_ - 1) / blockFrames_ * blockFrames_, left);
    target_ += static_cast<uint32_t>(frames);
    corrector_.MoveTarget(static_cast<double>(frames));
    return true;
}

// The lowest fill of the window beyond the target (by more than the slack once the start has
// settled) is dropped from the next blocks. At the end of the first second the corrector takes
// the level the trim leaves as the one to hold.
void PlaybackQueue::CloseWindow() {
    const uint32_t slack = correcting_ ? LATER_SLACK_BLOCKS * blockFrames_ : 0;
    lastLowest_ = lowest_;
    if (lowest_ > target_ + slack) {
        dropDue_ = lowest_ - target_;
        dropIsSplice_ = correcting_;
    }
    if (!correcting_ && --settleWindowsLeft_ == 0) {
        correcting_ = true;
        corrector_.Start(onTheirWaySum_ / windowBlocks_ - dropDue_, correctorSettings_);
    }
    windowFrames_ = windowBlocks_ = 0;
    lowest_ = UINT32_MAX;
    onTheirWaySum_ = 0.0;
}

uint32_t PlaybackQueue::Process(const int16_t* input, uint32_t frames, uint32_t heldFrames,
                                int16_t* output) {
    return Pass(input, frames, heldFrames, output);
}

uint32_t PlaybackQueue::Count(uint32_t frames, uint32_t heldFrames) {
    return Pass(nullptr, frames, heldFrames, nullptr);
}

uint32_t PlaybackQueue::Pass(const int16_t* input, uint32_t frames, uint32_t heldFrames,
                             int16_t* output) {
    const double onTheirWay = static_cast<double>(heldFrames) + frames;
    stoodAtTarget_ = stoodAtTarget_ || onTheirWay >= target_;
    lowest_ = heldFrames < lowest_ ? heldFrames : lowest_;
    windowFrames_ += frames;
    ++windowBlocks_;
    onTheirWaySum_ += onTheirWay;
    if (windowFrames_ >= (correcting_ ? WINDOW_FRAMES : SETTLE_WINDOW_FRAMES)) {
        CloseWindow();
    }
    // While the start settles nothing goes beyond the target at all: what the device holds
    // beyond it now (capture's first burst, a device that has not begun to take) is dropped
    // before it reaches the device, where a sound server behind it would keep it for good.
    if (!correcting_ && heldFrames > target_ + dropDue_) {
        dropDue_ = heldFrames - target_;
        dropIsSplice_ = false;
    }
    // What is still to be dropped is not on its way: the corrector reads the fill it will be.
    const double reading = onTheirWay - dropDue_;
    const uint32_t drop = dropDue_ < frames ? dropDue_ : frames;
    dropDue_ -= drop;
    spliced_ = dropIsSplice_ ? drop : 0;
    frames -= drop;
    if (input == nullptr) {
        return correcting_ ? corrector_.Count(frames, reading) : frames;
    }
    input += 2 * drop;
    if (!correcting_) {
        std::memcpy(output, input, frames * BLOCK_ALIGN);
        return frames;
    }
    return corrector_.Process(input, frames, reading, output);
}
