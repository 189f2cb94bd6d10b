// What one run of the stream keeps, whichever system carries it: its health words, its counts
// and its lifetime. A run is held by the window side from its open to its close and by its
// audio thread while that thread runs; the last to let go frees it. So a thread left behind
// inside an effect keeps its whole run, which is never reused, and the next run is a new one.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/engine_state.h"
#include "audio/playback_queue.h"

// Breaks in the sound one run counted.
struct RunCounts {
    std::atomic<uint32_t> captureGaps{0}; // capture lost samples, and no underrun for it
    std::atomic<uint32_t> underruns{0};   // a device pass found nothing new to play
    std::atomic<uint32_t> overruns{0};    // blocks dropped: playback had no room for them
};

// Since program start, over every run: each run adds its breaks as it counts them.
struct StreamCounters {
    std::atomic<uint32_t> restarts;    // by the watchdog
    std::atomic<uint32_t> captureGaps; // as RunCounts
    std::atomic<uint32_t> underruns;
    std::atomic<uint32_t> overruns;
};
extern StreamCounters streamCounters;

enum class StreamHealth {
    Healthy,
    Stalled,     // no capture for the stall limit (longer before the first block)
    DeviceFailed // the device refused a call, or went away
};

struct StreamRun {
    StreamRun();
    void (*freeRun)(StreamRun* run); // the system's own release of everything the run holds
    void* system = nullptr;          // the system's own record of the run, for free
    uint32_t serial;                 // runs are numbered from 1 as they are made
    std::atomic<int32_t> holders{1};
    uint32_t periodMs = 0;   // how often the device hands over a block
    uint32_t blockBytes = 0; // the longest block the run processes
    uint32_t openTick = 0;
    // Written by the run's audio thread (and the device notifications), read by the window.
    std::atomic<int32_t> stopping{0}; // 1 once the run is being closed: drop, play nothing
    std::atomic<uint32_t> lastCaptureTick{0};
    std::atomic<int32_t> captureSeen{0};           // 1 once the run's first capture block arrived
    std::atomic<int32_t> deviceCallFailed{0};      // 1 once a device call was refused, or its
                                                   // endpoint went away
    std::atomic<uint32_t> playbackProgressTick{0}; // when playback was last seen to move
    RunCounts counts;
    PlaybackQueue queue;               // started by the system's open; audio thread only then
    uint32_t lastArrival = 0;          // audio thread only
    uint32_t underrunsAtLastBlock = 0; // audio thread only
    bool dropping = false;             // audio thread only
};

// Runs made and not yet freed, those left behind included.
uint32_t LiveStreamRuns();

// One more holder (the audio thread, before it starts).
void HoldRun(StreamRun& run);
// A holder lets go; the last one frees the run.
void ReleaseRun(StreamRun* run);

// How long a running stream may go without capture before it counts as stalled: four device
// periods, never less than a second.
uint32_t StallLimitMs(uint32_t periodMs);

// The audio thread's note of a captured block arriving at now: the capture alive, and
// playback measured from the run's first block on.
void NoteCaptureArrival(StreamRun& run, uint32_t now);

// After a captured block was played: capture that lost samples before it (the device had
// nowhere to put them, or marked the block discontinuous) is a capture gap, unless the
// underrun it caused was counted since the last block: one break to the ear, counted once.
// Capture that merely came late is heard only if playback ran dry, and that is the underrun.
void SettleCaptureGap(StreamRun& run, bool lost);

// The run's breaks, counted in the run and in the program's totals. Blocks dropped one after
// the other are one splice, and one overrun; a block played ends the run of drops.
void CountUnderrun(StreamRun& run);
void CountOverrun(StreamRun& run);
void NoteBlockPlayed(StreamRun& run);

// How the run fares at now. A block inside the effect (effectBusy) is never a stall: that is
// the plug-in hang guard's case.
StreamHealth JudgeRun(const StreamRun& run, uint32_t now, bool effectBusy);

// True when the fade-out a stop started has run to its end: the block just made carried it.
inline bool FadeOutEnded(const FadePair& fade) {
    return fade.fadeTarget < 0 && fade.fadeCounter == 0;
}
