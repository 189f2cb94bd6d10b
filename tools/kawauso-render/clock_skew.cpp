#include "tools/kawauso-render/clock_skew.h"

#include <cmath>
#include <cstdio>
#include <deque>

#include "audio/audio_format.h"
#include "audio/playback_queue.h"
#include "audio/queue_settings.h"
#include "audio/stream_meters.h"

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

constexpr double SecondsForMs(double ms) {
    return ms / 1000.0;
}

constexpr double FramesForMs(double ms) {
    return SecondsForMs(ms) * SAMPLE_RATE;
}

// WinMM's position moves on a period of the sound server's at a time, as Wine's does; the
// headers come back by the same count of what has been played, so the cap of the headers not
// given back never cuts the position's reading short (a header given back ahead of the
// position would, by up to a step).
constexpr double WINMM_POSITION_STEP_MS = 10.0;
// A pass, or a header's end, and a write at the same instant, give or take the rounding of
// summed block times: the write is in time.
constexpr double PASS_TOLERANCE = 1e-9;
constexpr double DRY_TOLERANCE_FRAMES = 1e-6;
// WASAPI's render buffer holds this many periods (MIN_RENDER_PERIODS of the stream).
constexpr double WASAPI_BUFFER_PERIODS = 6.0;

// The playback device of either system: what was written to it, what it has played, and what
// the stream reads it holds. Times in seconds, frames as doubles (a resampled block is a frame
// longer or shorter now and then).
class Device {
  public:
    Device(const ClockSkewRun& run, Draws& draws) : run_(run), draws_(draws) {}

    // Before the write at t: true when it ran dry since the last one (and played silence, whose
    // frames are added to silence); the device then goes on from what it has.
    bool RanDry(double t, double& silence) {
        const double behind = Taken(t) - written_;
        if (start_ < 0.0 || behind <= DRY_TOLERANCE_FRAMES) {
            return false;
        }
        silence += behind;
        if (run_.stream == ClockStream::WinMM) {
            start_ += behind / SAMPLE_RATE; // it waits for the next header
            headers_.clear();
        } else {
            written_ += behind; // the engine played silence and goes on taking
        }
        return true;
    }

    // What the stream reads the device holds at t (before a write).
    double Reading(double t) {
        if (start_ < 0.0) {
            return 0.0;
        }
        if (run_.stream == ClockStream::WinMM) {
            const double unplayed = written_ - Position(t);
            const double headers = HeadersHeld(t);
            return unplayed < headers ? unplayed : headers;
        }
        const double period = run_.blockFrames;
        const double taken = Taken(t);
        const double sincePass = (Played(t) - (taken - period)) / SAMPLE_RATE;
        // The pass's stamp is as late as a wake-up; one the thread has not woken for yet is
        // placed a period after the last, whose stamp was as late: either way the rest of the
        // period is read that much long, whatever the phase of the capture against the pass.
        const double late = SecondsForMs(Noise(CLOCK_SKEW_WAKE_MS));
        const double padding = written_ - taken;
        const double rest = period - (sincePass - late) * SAMPLE_RATE;
        const double noise = (2.0 * Noise(1.0) - 1.0) * CLOCK_SKEW_READING_NOISE_MS;
        return padding + rest + FramesForMs(noise);
    }

    // Frames written and not yet played at t: the queue's true fill.
    double Fill(double t) const { return start_ < 0.0 ? written_ : written_ - Played(t); }

    // Whether frames more fit at t.
    bool Fits(double t, double frames) const {
        if (run_.stream == ClockStream::WinMM) {
            return headers_.size() < static_cast<size_t>(BUFFER_COUNT);
        }
        return written_ - (start_ < 0.0 ? 0.0 : Taken(t)) + frames <=
               WASAPI_BUFFER_PERIODS * run_.blockFrames;
    }

    // Silence at t, on WinMM a header of at most a block at a time, as the stream puts it.
    void WriteSilence(double t, double frames) {
        while (frames > 0.0) {
            const double part = frames < run_.blockFrames ? frames : run_.blockFrames;
            Write(t, part);
            frames -= part;
        }
    }

    // Writes frames at t (a header of them on WinMM); the device starts with the first write.
    void Write(double t, double frames) {
        if (frames <= 0.0) {
            return;
        }
        if (start_ < 0.0) {
            start_ = t;
        }
        if (run_.stream == ClockStream::WinMM) {
            headers_.push_back({written_, written_ + frames, run_.noise && draws_.Next() < 0.5});
        }
        written_ += frames;
    }

  private:
    struct Header {
        double begin, end; // in the frames written
        bool givenLate;    // given back with the next one
    };

    double Noise(double most) { return run_.noise ? draws_.Next() * most : 0.0; }

    double Played(double t) const { return t > start_ ? (t - start_) * SAMPLE_RATE : 0.0; }

    // WinMM's position, in whole steps of the sound server's period.
    double Position(double t) const {
        const double step = run_.noise ? FramesForMs(WINMM_POSITION_STEP_MS) : 1.0;
        return std::floor(Played(t) / step) * step;
    }

    // What the device has taken by t: on WASAPI a period at each of the engine's passes, the
    // first at the start; a block written at the very instant of a pass is in time for it.
    double Taken(double t) const {
        if (run_.stream == ClockStream::WinMM) {
            return Played(t);
        }
        const double period = run_.blockFrames;
        const double passes = std::ceil(Played(t) / period - PASS_TOLERANCE);
        return (passes > 1.0 ? passes : 1.0) * period;
    }

    // Headers are given back in order once the position has passed their end or, late, a block
    // after that: what is held is every header from the oldest not given back on.
    double HeadersHeld(double t) {
        const double position = Position(t);
        while (!headers_.empty() &&
               headers_.front().end + (headers_.front().givenLate ? run_.blockFrames : 0.0) <=
                   position) {
            headers_.pop_front();
        }
        return headers_.empty() ? 0.0 : written_ - headers_.front().begin;
    }

    const ClockSkewRun& run_;
    Draws& draws_;
    double start_ = -1.0;
    double written_ = 0.0;
    std::deque<Header> headers_;
};

void AppendSilence(std::vector<int16_t>* played, double frames) {
    if (played != nullptr && frames > 0.0) {
        played->resize(played->size() + 2 * static_cast<size_t>(frames + 0.5), 0);
    }
}

// When the ratio's error starts to count (seconds of capture).
double LockedFrom(const ClockSkewRun& run, bool stepped) {
    if (run.stream == ClockStream::WinMM) {
        return CLOCK_SKEW_WINMM_LOCK_SECONDS + (stepped ? run.stepSeconds : 0.0);
    }
    return stepped ? run.stepSeconds + CLOCK_SKEW_STEP_LOCK_SECONDS : CLOCK_SKEW_LOCK_SECONDS;
}

double Larger(double a, double b) {
    return a > b ? a : b;
}

} // namespace

ClockSkewReport SimulateClockSkew(const int16_t* processed, size_t frames, const ClockSkewRun& run,
                                  std::vector<int16_t>* played) {
    PlaybackQueue queue;
    queue.Start(run.stream == ClockStream::Wasapi ? WasapiQueueSettings(run.blockFrames)
                                                  : WaveQueueSettings(run.blockFrames));
    Draws draws;
    Device device(run, draws);
    std::vector<int16_t> scratch(
        processed != nullptr ? 2 * PlaybackQueue::MaxOutputFrames(run.blockFrames) : 0);
    if (played != nullptr) {
        played->clear();
    }
    ClockSkewReport report;
    double captureTime = 0.0;
    bool raiseDue = false;
    double levelSum = 0.0;
    uint32_t levelCount = 0;
    for (size_t captured = 0; captured < frames;) {
        const uint32_t count = frames - captured < run.blockFrames
                                   ? static_cast<uint32_t>(frames - captured)
                                   : run.blockFrames;
        const bool stepped = run.stepSeconds > 0.0 && captureTime >= run.stepSeconds;
        const double ppm = run.skewPpm + (stepped ? run.stepPpm : 0.0);
        captureTime += count / (SAMPLE_RATE * (1.0 + ppm * 1e-6));
        const double t =
            captureTime + (run.noise ? draws.Next() * SecondsForMs(CLOCK_SKEW_WAKE_MS) : 0.0);
        const bool counted = captureTime >= CLOCK_SKEW_QUIET_SECONDS;
        double dry = 0.0;
        if (device.RanDry(t, dry)) {
            report.breaks += counted ? 1 : 0;
            raiseDue = true;
            AppendSilence(played, dry);
        }
        const uint32_t ahead = queue.TakeStartFill(); // before the first block: not played after
        const uint32_t raise = raiseDue && queue.Raise(run.blockFrames) ? run.blockFrames : 0;
        raiseDue = false;
        device.WriteSilence(t, ahead + raise);
        AppendSilence(played, raise);
        const double reading = device.Reading(t);
        const uint32_t held = reading > 0.0 ? static_cast<uint32_t>(reading + 0.5) : 0;
        // The fill's error from the level it stood at once the start had settled (its average
        // over the second after the quiet seconds): what the corrector holds, in true frames.
        const double fill = device.Fill(t) + count;
        if (captureTime < CLOCK_SKEW_LEVEL_SECONDS) {
            levelSum += counted ? fill : 0.0;
            levelCount += counted ? 1 : 0;
        } else if (levelCount != 0) { // a block longer than the level's second has none
            const double error = std::fabs(fill - levelSum / levelCount) * 1000.0 / SAMPLE_RATE;
            report.queueErrorAfterQuietMs = Larger(report.queueErrorAfterQuietMs, error);
            if (captureTime >= CLOCK_SKEW_SETTLE_SECONDS) {
                report.largestQueueErrorMs = Larger(report.largestQueueErrorMs, error);
            }
        }
        const uint32_t out = processed != nullptr ? queue.Process(processed + 2 * captured, count,
                                                                  held, scratch.data())
                                                  : queue.Count(count, held);
        const double shownPpm = queue.ShownClockRatioPpm();
        MeterQueue({held, queue.TargetFrames(), shownPpm, queue.AppliedPpm(), count});
        report.largestShownPpm = Larger(report.largestShownPpm, std::fabs(shownPpm));
        captured += count;
        report.splices += counted && queue.SplicedFrames() != 0 ? 1 : 0;
        const double locked = LockedFrom(run, stepped);
        if (captureTime >= locked) {
            report.largestRatioErrorPpm =
                Larger(report.largestRatioErrorPpm, std::fabs(queue.ClockRatioPpm() - ppm));
        }
        if (!device.Fits(t, out)) {
            report.breaks += counted ? 1 : 0;
            continue;
        }
        device.Write(t, out);
        if (played != nullptr) {
            played->insert(played->end(), scratch.begin(), scratch.begin() + 2 * out);
        }
    }
    report.ratioPpm = queue.ClockRatioPpm();
    report.bypassed = queue.Bypassed();
    return report;
}

void PlayThroughClockSkew(std::vector<int16_t>& output, int bufferMs, ClockStream stream,
                          double skewPpm, bool noise) {
    ClockSkewRun run;
    run.stream = stream;
    run.blockFrames = FramesForBufferBytes(BufferBytesForMs(bufferMs));
    run.skewPpm = skewPpm;
    run.noise = noise;
    std::vector<int16_t> played;
    const ClockSkewReport report =
        SimulateClockSkew(output.data(), output.size() / 2, run, &played);
    output.swap(played);
    std::fprintf(stderr, "clock skew %+g ppm (%s): final ratio %+.3f ppm\n", skewPpm,
                 stream == ClockStream::Wasapi ? "WASAPI" : "WinMM", report.ratioPpm);
    std::fprintf(stderr, "after %g s: largest queue error %.3f ms, breaks %u, splices %u\n",
                 CLOCK_SKEW_QUIET_SECONDS, report.queueErrorAfterQuietMs, report.breaks,
                 report.splices);
}
