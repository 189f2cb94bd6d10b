// What stands between a captured block and the playback device: the device's queue, held at
// the fewest frames that play without breaks, whichever system carries the stream.
//
// At the start the queue is filled with silence ahead of the first block, up to its target;
// the devices then settle (a first capture comes in a burst, a device takes its first blocks
// late), and over the first second the lowest the queue stands at a write is trimmed back to
// the target by dropping what is beyond it, inside the fade-in. Later a queue that stays more
// than two blocks beyond its target (a late wake-up left a burst in it) is trimmed the same
// way: one splice rather than that much more delay for good. What a second clock does to the
// queue, slowly, is the drift corrector's: it holds the level the first second left.
//
// One object per stream run, touched by its audio thread only: no allocation, no lock.
#pragma once

#include <cstdint>

#include "audio/drift_corrector.h"
#include "audio/queue_settings.h"

class PlaybackQueue {
  public:
    // As the system's settings say (queue_settings.h); the start's fill is at most the target
    // (capture's first burst may bring the queue up to the target). Call before the audio
    // thread runs.
    void Start(const QueueSettings& settings);

    // Frames of silence to put ahead of the first block; the start's fill, once, then 0.
    uint32_t TakeStartFill();

    // One processed block of frames frames; heldFrames: what the device holds now, before this
    // block. Writes the frames to play into output (MaxOutputFrames(frames)) and returns how
    // many.
    uint32_t Process(const int16_t* input, uint32_t frames, uint32_t heldFrames, int16_t* output);
    // The same without the samples: how many frames Process would have written. An object
    // counts or processes, not both.
    uint32_t Count(uint32_t frames, uint32_t heldFrames);

    // After an underrun: true when a block of frames of silence is to go ahead, the queue
    // standing that much higher from then on, as the machine has shown it needs; at most
    // MAX_RAISES times a run, so a device that keeps breaking does not pile up delay. While
    // the start settles, a queue that stood at its target is raised only as often as the
    // settings say: beyond that it was emptied by the capture's start, not by the machine.
    static constexpr uint32_t MAX_RAISES = 2;
    bool Raise(uint32_t frames);

    // A wake-up of the audio thread gapFrames (of time) after its last one, for a system whose
    // thread wakes once a block: a gap longer than the queue rides out (two blocks, and what it
    // has been raised by) was a stall of the process, and the sound broke with it though the
    // device may never have shown its queue empty. The capture's burst after the stall brings
    // the queue up by the stall's excess; that is kept from then on, in whole blocks, up to
    // MAX_RAISED_BLOCKS above the start's target, as a plain passthrough keeps the delay a
    // stall leaves. Nothing is judged until the start has settled. True for a stall.
    static constexpr uint32_t MAX_RAISED_BLOCKS = 10;
    bool NoteWakeUpGap(uint64_t gapFrames);

    static constexpr uint32_t MaxOutputFrames(uint32_t frames) {
        return DriftCorrector::MaxOutputFrames(frames);
    }

    // Frames dropped by the last Process after the first second: a splice the ear hears.
    uint32_t SplicedFrames() const { return spliced_; }
    // True while every frame has passed unchanged (the corrector still bypassed).
    bool Bypassed() const { return !correcting_ || corrector_.Bypassed(); }
    // The lowest the queue stood at a write over the last whole window, in frames; and
    // whether the first second is over.
    uint32_t LastLowest() const { return lastLowest_; }
    bool Settled() const { return correcting_; }
    uint32_t TargetFrames() const { return target_; }
    // The frames on their way at a write (the device's and the block's) the corrector holds,
    // once the first second is over.
    double HeldLevel() const { return corrector_.TargetFrames(); }
    double ClockRatioPpm() const { return corrector_.ClockRatioPpm(); }
    double ShownClockRatioPpm() const { return corrector_.ShownClockRatioPpm(); }
    double AppliedPpm() const { return correcting_ ? corrector_.AppliedPpm() : 0.0; }

  private:
    void CloseWindow();
    uint32_t Pass(const int16_t* input, uint32_t frames, uint32_t heldFrames, int16_t* output);

    DriftCorrector corrector_;
    uint32_t target_ = 0;
    uint32_t startTarget_ = 0;
    uint32_t blockFrames_ = 0;
    CorrectorSettings correctorSettings_ = {};
    uint32_t settleWindowsLeft_ = 0;
    uint32_t raises_ = 0;
    uint32_t settlingRaises_ = MAX_RAISES;
    bool stoodAtTarget_ = false; // at a write while the start settles
    uint32_t startFill_ = 0;
    // The current window: frames, the lowest the queue stood at, the frames on their way summed.
    uint32_t windowFrames_ = 0;
    uint32_t windowBlocks_ = 0;
    uint32_t lowest_ = UINT32_MAX;
    double onTheirWaySum_ = 0.0;
    uint32_t lastLowest_ = 0;
    uint32_t dropDue_ = 0;
    uint32_t spliced_ = 0;
    bool dropIsSplice_ = false;
    bool correcting_ = false;
};
