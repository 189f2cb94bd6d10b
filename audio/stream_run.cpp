#include "audio/stream_run.h"

namespace {

constexpr uint32_t MIN_STALL_MS = 1000;
constexpr uint32_t STALL_PERIODS = 4;
constexpr uint32_t FIRST_CAPTURE_ALLOWANCE_MS = 2000; // some devices take this long to start

std::atomic<uint32_t> liveRuns{0};
std::atomic<uint32_t> runsMade{0};

} // namespace

StreamCounters streamCounters;

StreamRun::StreamRun() : serial(runsMade.fetch_add(1) + 1) {
    liveRuns.fetch_add(1);
}

uint32_t LiveStreamRuns() {
    return liveRuns.load();
}

void HoldRun(StreamRun& run) {
    run.holders.fetch_add(1);
}

void ReleaseRun(StreamRun* run) {
    if (run != nullptr && run->holders.fetch_sub(1) == 1) {
        liveRuns.fetch_sub(1);
        run->freeRun(run);
    }
}

uint32_t StallLimitMs(uint32_t periodMs) {
    return STALL_PERIODS * periodMs > MIN_STALL_MS ? STALL_PERIODS * periodMs : MIN_STALL_MS;
}

void NoteCaptureArrival(StreamRun& run, uint32_t now) {
    run.lastArrival = now;
    run.lastCaptureTick.store(now);
    if (run.captureSeen.load() == 0) {
        run.playbackProgressTick.store(now); // playback is measured from the first block on
        run.captureSeen.store(1);
    }
}

void SettleCaptureGap(StreamRun& run, bool lost) {
    const uint32_t underruns = run.counts.underruns.load();
    if (lost && underruns == run.underrunsAtLastBlock) {
        run.counts.captureGaps.fetch_add(1);
        streamCounters.captureGaps.fetch_add(1);
    }
    run.underrunsAtLastBlock = underruns;
}

void CountUnderrun(StreamRun& run) {
    run.counts.underruns.fetch_add(1);
    streamCounters.underruns.fetch_add(1);
}

void CountOverrun(StreamRun& run) {
    if (!run.dropping) {
        run.counts.overruns.fetch_add(1);
        streamCounters.overruns.fetch_add(1);
    }
    run.dropping = true;
}

void NoteBlockPlayed(StreamRun& run) {
    run.dropping = false;
}

StreamHealth JudgeRun(const StreamRun& run, uint32_t now, bool effectBusy) {
    if (run.deviceCallFailed.load() != 0) {
        return StreamHealth::DeviceFailed;
    }
    const uint32_t limit = StallLimitMs(run.periodMs);
    const bool seen = run.captureSeen.load() != 0;
    const uint32_t sinceCapture = now - (seen ? run.lastCaptureTick.load() : run.openTick);
    // A playback device that went away may go on taking blocks without playing them.
    const uint32_t sincePlayback = seen ? now - run.playbackProgressTick.load() : 0;
    if (effectBusy || (sinceCapture <= (seen ? limit : limit + FIRST_CAPTURE_ALLOWANCE_MS) &&
                       sincePlayback <= limit)) {
        return StreamHealth::Healthy;
    }
    return StreamHealth::Stalled;
}
