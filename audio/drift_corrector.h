// Bridges a capture and a playback device that run on two clocks: holds the playback queue at
// its target by resampling the captured blocks by a ratio within +-1000 ppm.
//
// Each block the queue's fill (as measured when the block was captured) goes two ways: into a
// least-squares line through the fill the corrector would have left alone, whose slope is the
// estimate of how much faster capture runs; and through a low-pass, whose error from the target
// pulls the ratio off that slope to bring the fill back. Until the line shows a drift beyond a
// narrow band (or the filtered fill strays well beyond it) the ratio stays exactly 1, so devices
// that share one clock never leave the bypass and their samples pass bit for bit; the line and
// the low-pass (seconds, against the reading's noise of milliseconds) are what let the band be
// narrow, so that the corrector acts within a millisecond or so of drift, long before the queue
// runs out of room. Once it acts the pull starts wide and narrows over the next twenty
// seconds, so that in the steady state the ratio moves by well under a part per million and
// the resampling adds no audible modulation. There is no integral to wind up.
//
// One object per stream run, touched by its audio thread only: no allocation, no lock.
#pragma once

#include <cstdint>

#include "audio/resampler.h"

// How far the fill may drift before the ratio leaves 1 (bandFrames: as the fitted line shows
// it; strayFrames: as the low-passed fill shows it, whatever the line, for a skew too large to
// wait for the line), and the low-pass it is watched through until then (watchSeconds, longer
// for a noisier reading).
struct CorrectorSettings {
    double bandFrames;
    double strayFrames;
    double watchSeconds;
};

class DriftCorrector {
  public:
    static constexpr double MAX_PPM = 1000.0;

    // targetFrames: the fill to hold. Call before the audio thread runs.
    void Start(double targetFrames, const CorrectorSettings& settings);

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
    // How much faster the capture clock runs than the playback clock, as estimated (while
    // bypassed too): the slope of the fill it would have left alone.
    double ClockRatioPpm() const;
    // The same for a user to read: 0 until the corrector has acted, so that one clock does not
    // read as the noise of a young line (hundreds of ppm in the first seconds; on WinMM's
    // coarse position tens of ppm even after minutes), nor a skew too small to need it.
    double ShownClockRatioPpm() const;
    // The ratio it resamples by now, as ppm of input beyond output (0 while bypassed).
    double AppliedPpm() const { return (resampler_.Ratio() - 1.0) * 1e6; }
    // True while every frame has been copied unchanged.
    bool Bypassed() const { return resampler_.Bypassed(); }
    // The fill to hold from now on is frames more (fewer when negative).
    void MoveTarget(double frames) { target_ += frames; }
    double TargetFrames() const { return target_; }

  private:
    // Two one-pole low-passes in a row; step: the share of the way each moves per block.
    struct TwoPoles {
        double first = 0.0, second = 0.0;
        void Pass(double x, double step) {
            first += step * (x - first);
            second += step * (first - second);
        }
    };

    void Steer(uint32_t frames, double queueFrames);
    void Regress(double dt, double u);
    void BeginLine();
    void GoWide(bool clocksChanged);
    void WidenWhenStrayed(double dt);
    bool StillBypassed() const;
    double Slope() const;
    double SlopeError() const;
    double Skew() const; // the estimate given, parts per one

    Resampler resampler_;
    double target_ = 0.0;
    double band_ = 0.0;  // seconds
    double stray_ = 0.0; // seconds
    double watchSeconds_ = 0.1;
    TwoPoles error_; // the queue's error, seconds
    TwoPoles slope_; // the skew the ratio follows, parts per one
    // The least-squares line through the uncorrected error: its weights, times (now 0) and
    // readings summed; and the fill the resampling has taken away (seconds).
    double sw_ = 0.0, st_ = 0.0, su_ = 0.0, stt_ = 0.0, stu_ = 0.0, suu_ = 0.0;
    double corrected_ = 0.0;
    double regressedSeconds_ = 0.0; // since the line was begun
    double heldSlope_ = 0.0;        // the line before's, given while the new one is young
    double engagedSeconds_ = -1.0;  // time since the controller first acted; < 0: not yet
    double strayedSeconds_ = 0.0;   // the narrow loop outside the band, so long
};
