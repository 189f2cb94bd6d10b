// Two device clocks, simulated: the rendered blocks as the live stream plays them if the capture
// device's clock ran skewPpm faster (negative: slower) than the playback device's, through the
// stream's own PlaybackQueue with the system's own settings (queue_settings.h).
//
// Capture completes a block every blockFrames / (44100 (1 + skew)) seconds; the audio thread
// wakes up to WAKE_MS later, puts silence ahead as the stream does (the start's fill, a raise
// after a break), hands the block through the queue and writes what it gives; the device plays
// at exactly 44100 frames a second from the first write on. What the queue is told the device
// holds is what each system's stream reads, modelled:
// - WASAPI: the engine takes a period at a time; the fill is read from the padding and the
//   time since the engine's last pass, whose stamp is as late as the thread's wake-up (a pass
//   not yet woken for is placed a period after the last one), with reading noise of
//   +-READING_NOISE_MS on top.
// - WinMM: headers of a block; the device's position moves 10 ms at a time, and a header is
//   given back once the position has passed its end or, half the time, with the next one
//   (bursts of two); the fill is read as the frames written less the position, and never more
//   than the headers not given back.
// A device running dry before a write is a break (it played silence); a block that does not fit
// in the device's buffer is dropped, a break too; a drop by the queue after the first second
// is a splice. Random draws come from a fixed generator, so every build gives the same result
// bit for bit; without noise (no wake-ups late, no reading noise, no bursts) one clock plays
// every frame as it came.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/drift_corrector.h"

constexpr int CLOCK_SKEW_MAX_PPM = static_cast<int>(DriftCorrector::MAX_PPM);
constexpr double CLOCK_SKEW_WAKE_MS = 2.0;
constexpr double CLOCK_SKEW_READING_NOISE_MS = 0.5;
constexpr double CLOCK_SKEW_QUIET_SECONDS = 2.0;   // breaks and splices counted after it
constexpr double CLOCK_SKEW_LEVEL_SECONDS = 3.0;   // the fill's level taken until then
constexpr double CLOCK_SKEW_SETTLE_SECONDS = 30.0; // the queue's error measured after it
// The ratio's error is measured from these on: a minute into the run, a minute and a half after
// a step of the clocks (the old line is given up and a new one found); WinMM's position, read
// in 10 ms steps, holds a ppm's information only over minutes.
constexpr double CLOCK_SKEW_LOCK_SECONDS = 60.0;
constexpr double CLOCK_SKEW_STEP_LOCK_SECONDS = 90.0;
constexpr double CLOCK_SKEW_WINMM_LOCK_SECONDS = 180.0;

enum class ClockStream { Wasapi, WinMM };

struct ClockSkewRun {
    ClockStream stream = ClockStream::Wasapi;
    uint32_t blockFrames = 442;
    double skewPpm = 0.0;
    double stepPpm = 0.0;     // added to the skew at stepSeconds (a clock that changes)
    double stepSeconds = 0.0; // 0: no step
    bool noise = true;
};

struct ClockSkewReport {
    double ratioPpm = 0.0;               // the corrector's clock-ratio estimate at the end
    double largestQueueErrorMs = 0.0;    // from its settled level, after the settle seconds
    double queueErrorAfterQuietMs = 0.0; // the same from the level seconds on
    double largestRatioErrorPpm = 0.0;   // from the skew, after the lock seconds (and the step's)
    double largestShownPpm = 0.0;        // the estimate a user reads, start to end
    uint32_t breaks = 0;                 // after the quiet seconds
    uint32_t splices = 0;                // after the quiet seconds
    bool bypassed = false;               // every frame passed unchanged, start to end
};

// processed: the rendered stream (interleaved stereo, frames frames), cut into blocks of
// run.blockFrames as the live stream cuts it. played (when not null) receives what the device
// plays after the start's fill: every written frame, silence for a break. With processed null
// only the queue is simulated (hours take moments).
ClockSkewReport SimulateClockSkew(const int16_t* processed, size_t frames, const ClockSkewRun& run,
                                  std::vector<int16_t>* played);

// For the renderer: replaces output (rendered with buffer length bufferMs) by what the device
// plays, and prints the corrector's final ratio, the largest queue error, the breaks and the
// splices to stderr.
void PlayThroughClockSkew(std::vector<int16_t>& output, int bufferMs, ClockStream stream,
                          double skewPpm, bool noise);
