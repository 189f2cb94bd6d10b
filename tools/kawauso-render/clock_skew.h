// Two device clocks, simulated: the rendered blocks as the live stream would play them if the
// capture device's clock ran skewPpm faster (negative: slower) than the playback device's,
// with the drift corrector between them.
//
// The model: capture completes a block of blockFrames every blockFrames / (44100 (1 + skew))
// seconds; the audio thread wakes up to WAKE_MS later, hands the block through the corrector
// and writes what it gives to the playback queue, which a device at exactly 44100 frames per
// second drains from the first write on. The queue starts filled with silence so that it
// stands at its target whenever a block is captured. The corrector reads the fill at each
// block's capture instant to within +-READING_NOISE_MS, as the devices' reported positions
// and time stamps give it. The queue running dry before a write is a repeat (the device
// played silence); a write that would take it two blocks beyond its target drops the block.
// Random draws come from a fixed generator, so every build gives the same result bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/drift_corrector.h"

constexpr int CLOCK_SKEW_MAX_PPM = static_cast<int>(DriftCorrector::MAX_PPM);
constexpr double CLOCK_SKEW_WAKE_MS = 2.0;
constexpr double CLOCK_SKEW_READING_NOISE_MS = 0.1;
constexpr double CLOCK_SKEW_TARGET_MS = CLOCK_SKEW_WAKE_MS + 1.0; // and a block's drift
constexpr double CLOCK_SKEW_DEAD_BAND_MS = 0.25;
constexpr double CLOCK_SKEW_SETTLE_SECONDS = 10.0;

struct ClockSkewReport {
    double ratioPpm = 0.0;            // the corrector's clock-ratio estimate at the end
    double largestQueueErrorMs = 0.0; // after CLOCK_SKEW_SETTLE_SECONDS
    uint32_t droppedBlocks = 0;       // after CLOCK_SKEW_SETTLE_SECONDS
    uint32_t repeats = 0;             // after CLOCK_SKEW_SETTLE_SECONDS
    bool settled = false;             // the stream lasted beyond CLOCK_SKEW_SETTLE_SECONDS
};

// processed: the rendered stream (interleaved stereo, frames frames), cut into blocks of
// blockFrames as the live stream cuts it. played (when not null) receives what the playback
// device plays after the initial fill: every written frame, silence for a repeat. With
// processed null only the queue is simulated (hours take moments).
ClockSkewReport SimulateClockSkew(const int16_t* processed, size_t frames, uint32_t blockFrames,
                                  double skewPpm, std::vector<int16_t>* played);

// For the renderer: replaces output (rendered with buffer length bufferMs) by what the
// playback device plays, and prints the corrector's final ratio and the largest queue error
// after settling to stderr.
void PlayThroughClockSkew(std::vector<int16_t>& output, int bufferMs, double skewPpm);
