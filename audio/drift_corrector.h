// Bridges a capture and a playback device that run on two clocks: holds the playback queue at
// its target by resampling the captured blocks by a ratio within +-1000 ppm.
//
// Each block the queue's fill (as measured when the block was captured) is low-passed, and a
// PI controller on the filtered error sets the ratio; its integral is the estimate of how much
// faster capture runs. The controller does nothing while the filtered fill stays within a
// dead band of the target, so devices that share one clock never leave the bypass and their
// samples pass bit for bit. Before it acts it watches the fill through a short low-pass
// (0.1 s catches 1000 ppm with the queue off by well under a millisecond), or a longer one
// where the reading is noisier. Once it acts it starts wide, to catch a large skew within
// seconds, and narrows over the next twenty, so that in the steady state the ratio moves by
// well under a part per million and the resampling adds no audible modulation.
//
// One object per stream run, touched by its audio thread only: no allocation, no lock.
#pragma once

#include <cstdint>

#include "audio/resampler.h"

class DriftCorrector {
  public:
    static constexpr double MAX_PPM = 1000.0;

    // targetFrames: the fill to hold; deadBandFrames: how far the filtered fill may stray
    // before the controller acts; watchSeconds: the time constant the fill is watched through
    // until then (longer for a noisier reading). Call before the audio thread runs.
    void Start(double targetFrames, double deadBandFrames, double watchSeconds = 0.1);

    // One captured block (interleaved stereo, frames frames), with the frames on their way to
    // the playback device when it was captured, in the measure of the target: the device's
    // queue, and the block itself where blocks vary in length. Writes the frames to play and
    // returns how many; output must hold MaxOutputFrames(frames).
    uint32_t Process(const int16_t* input, uint32_t frames, double queueFrames, int16_t* output);
    // The same without the samples: how many frames Process would have written. An object
    // counts or processes, not both.
    uint32_t Count(uint32_t frames, double queueFrames);

    static constexpr uint32_t MaxOutputFrames(uint32_t frames) {
        return Resampler::MaxOutputFrames(frames);
    }
    // How much faster the capture clock runs than the playback clock, as estimated.
    double ClockRatioPpm() const { return integral_ * 1e6; }
    // True while every frame has been copied unchanged.
    bool Bypassed() const { return resampler_.Bypassed(); }
    // The fill to hold from now on is frames more (fewer when negative).
    void MoveTarget(double frames) { target_ += frames; }

  private:
    void Steer(uint32_t frames, double queueFrames);

    Resampler resampler_;
    double target_ = 0.0;
    double deadBand_ = 0.0; // seconds
    double watchSeconds_ = 0.1;
    double smoothed_ = 0.0;        // the queue's error through one low-pass, seconds
    double filtered_ = 0.0;        // and through a second
    double firstError_ = 0.0;      // the first reading's, seconds
    double integral_ = 0.0;        // the clock-ratio estimate, parts per one
    double watchedSeconds_ = 0.0;  // since the start
    double engagedSeconds_ = -1.0; // time since the controller first acted; < 0: not yet
    bool first_ = true;
};
