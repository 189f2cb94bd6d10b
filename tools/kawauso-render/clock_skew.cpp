#include "tools/kawauso-render/clock_skew.h"

#include <cstdio>

#include "audio/audio_format.h"

namespace {

// A 64-bit linear congruential generator: the same sequence in every build.
class Draws {
  public:
    double Next() { // [0, 1)
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state_ >> 11) * (1.0 / 9007199254740992.0);
    }

  private:
    uint64_t state_ = 0x4B617761u;
};

constexpr double FramesForMs(double ms) {
    return ms * SAMPLE_RATE / 1000.0;
}

} // namespace

ClockSkewReport SimulateClockSkew(const int16_t* processed, size_t frames, uint32_t blockFrames,
                                  double skewPpm, std::vector<int16_t>* played) {
    const double captureRate = SAMPLE_RATE * (1.0 + skewPpm * 1e-6);
    // The queue rides out the wake-up delay and what the clocks can drift apart in one block.
    const double target =
        FramesForMs(CLOCK_SKEW_TARGET_MS) + blockFrames * DriftCorrector::MAX_PPM * 1e-6;
    const double capacity = target + 2.0 * blockFrames;
    // The corrector holds the frames on their way when a block is captured, the queue and the
    // block in hand: the same measure whatever a block's length, where the queue alone jumps
    // when a block is short.
    const double onTheirWayTarget = target + blockFrames;
    DriftCorrector corrector;
    corrector.Start(onTheirWayTarget, FramesForMs(CLOCK_SKEW_DEAD_BAND_MS));
    std::vector<int16_t> scratch(
        processed != nullptr ? 2 * DriftCorrector::MaxOutputFrames(blockFrames) : 0);
    if (played != nullptr) {
        played->clear();
    }
    Draws draws;
    ClockSkewReport report;
    double written = target; // frames handed to the playback device, the initial fill included
    double start = -1.0;     // when the device began to play, seconds
    size_t captured = 0;
    while (captured < frames) {
        const uint32_t count = frames - captured < blockFrames
                                   ? static_cast<uint32_t>(frames - captured)
                                   : blockFrames;
        captured += count;
        const double capturedAt = static_cast<double>(captured) / captureRate;
        const double wake = capturedAt + draws.Next() * CLOCK_SKEW_WAKE_MS / 1000.0;
        if (start < 0.0) { // the device starts with the first write: the fill allows for it
            start = wake;
            written -= (wake - capturedAt) * SAMPLE_RATE;
        }
        auto playedBy = [&](double t) { return t > start ? (t - start) * SAMPLE_RATE : 0.0; };
        const double onTheirWay =
            (captured == count ? target : written - playedBy(capturedAt)) + count;
        const double reading =
            onTheirWay + (2.0 * draws.Next() - 1.0) * FramesForMs(CLOCK_SKEW_READING_NOISE_MS);
        const bool settled = capturedAt > CLOCK_SKEW_SETTLE_SECONDS;
        if (settled) {
            report.settled = true;
            const double errorMs = (onTheirWay - onTheirWayTarget) * 1000.0 / SAMPLE_RATE;
            const double size = errorMs < 0 ? -errorMs : errorMs;
            report.largestQueueErrorMs =
                size > report.largestQueueErrorMs ? size : report.largestQueueErrorMs;
        }
        uint32_t out = 0;
        if (processed != nullptr) {
            out = corrector.Process(processed + 2 * (captured - count), count, reading,
                                    scratch.data());
        } else {
            out = corrector.Count(count, reading);
        }
        const double atWrite = written - playedBy(wake);
        if (atWrite < 0.0) { // the device ran dry and played silence meanwhile
            report.repeats += settled ? 1 : 0;
            written -= atWrite;
            if (played != nullptr) {
                played->resize(played->size() + 2 * static_cast<size_t>(-atWrite + 0.5), 0);
            }
        }
        if (written - playedBy(wake) + out > capacity) {
            report.droppedBlocks += settled ? 1 : 0;
            continue;
        }
        written += out;
        if (played != nullptr) {
            played->insert(played->end(), scratch.begin(), scratch.begin() + 2 * out);
        }
    }
    report.ratioPpm = corrector.ClockRatioPpm();
    return report;
}

void PlayThroughClockSkew(std::vector<int16_t>& output, int bufferMs, double skewPpm) {
    const uint32_t blockFrames = FramesForBufferBytes(BufferBytesForMs(bufferMs));
    std::vector<int16_t> played;
    const ClockSkewReport report =
        SimulateClockSkew(output.data(), output.size() / 2, blockFrames, skewPpm, &played);
    output.swap(played);
    std::fprintf(stderr, "clock skew %+g ppm: final ratio %+.3f ppm\n", skewPpm, report.ratioPpm);
    if (report.settled) {
        std::fprintf(stderr,
                     "after %g s: largest queue error %.3f ms, %u blocks dropped, %u repeats\n",
                     CLOCK_SKEW_SETTLE_SECONDS, report.largestQueueErrorMs, report.droppedBlocks,
                     report.repeats);
    } else {
        std::fprintf(stderr, "IN is too short for the queue to settle (%g s)\n",
                     CLOCK_SKEW_SETTLE_SECONDS);
    }
}
