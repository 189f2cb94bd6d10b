#include "audio/drift_corrector.h"

#include <cmath>

#include "audio/audio_format.h"

namespace {

constexpr double MAX_DEVIATION = DriftCorrector::MAX_PPM * 1e-6;
// What the loop may ask of the resampler: beyond the largest skew it estimates, so that at that
// skew the pull back to the target still has room (the resampler takes 1 %).
constexpr double MAX_OUTPUT = 1.5 * MAX_DEVIATION;
// How hard the loop pulls the fill back to its target (rad/s; the pull is 2 omega times the
// filtered error): wide for the first seconds after it acts, then narrowed as 1/t^2 to the
// width at which reading noise moves the ratio by a small fraction of a ppm (narrow 21 s after
// it acted).
constexpr double WIDE_OMEGA = 1.0;
constexpr double NARROW_OMEGA = 0.02;
constexpr double WIDE_SECONDS = 3.0;
// Once acting, the fill goes through two low-passes in a row, together a quarter of the pull's
// time constant: smooth, and fast enough to keep the loop stable.
constexpr double FILTER_PER_OMEGA = 0.25;
// The skew is estimated all along as the slope of the fill the corrector would have left alone
// (a least-squares line through the readings, older ones fading over this long): precise to a
// fraction of a ppm on a noisy reading, where one reading is off by a millisecond. The ratio is
// that slope, and the pull on top of it; no integrator, so nothing winds up while the ratio is
// at its limit.
constexpr double SLOPE_SECONDS = 300.0;
// A narrow loop whose filtered error strays this many bands out, or stays more than
// STRAYED_BANDS out for STRAYED_SECONDS, leans on an old slope (the clocks changed): it goes
// wide again and, after a while on one slope, the slope is looked for anew; the one before is
// given meanwhile, until the new line has run SLOPE_FRESH_SECONDS.
constexpr double WIDEN_BANDS = 2.0;
constexpr double STRAYED_BANDS = 1.5;
constexpr double STRAYED_SECONDS = 10.0;
constexpr double SLOPE_KEPT_SECONDS = 30.0;
constexpr double SLOPE_FRESH_SECONDS = 5.0;
// A slope counts once it stands this many standard errors clear of none, and once the line is
// this long: a reading that moves in steps of the device's own (a WinMM position, 441 frames,
// read every 883) beats with the blocks for seconds, one clock or two.
constexpr double SLOPE_SHOWN_ERRORS = 6.0;
constexpr double SLOPE_SHOWN_SECONDS = 20.0;
// A reading is taken into the line, and before the corrector acts into the low-pass, clipped to
// this many strays either side of the target: a burst of delay a stall left (tens of ms, until
// the queue's next window splices it out) is no drift, which moves the fill a millisecond a
// second at the most, and must neither tilt the line nor carry the fill out.
constexpr double WATCH_CLIP_STRAYS = 2.0;

double Clamp(double x, double low, double high) {
    return x < low ? low : (x > high ? high : x);
}

double LoopOmega(double engagedSeconds) {
    if (engagedSeconds <= WIDE_SECONDS) {
        return WIDE_OMEGA;
    }
    const double shrink = WIDE_SECONDS / engagedSeconds;
    const double omega = WIDE_OMEGA * shrink * shrink;
    return omega > NARROW_OMEGA ? omega : NARROW_OMEGA;
}

} // namespace

void DriftCorrector::Start(double targetFrames, const CorrectorSettings& settings) {
    resampler_.Reset();
    watchSeconds_ = settings.watchSeconds;
    target_ = targetFrames;
    band_ = settings.bandFrames / SAMPLE_RATE;
    stray_ = settings.strayFrames / SAMPLE_RATE;
    error_ = slope_ = TwoPoles();
    BeginLine();
    corrected_ = heldSlope_ = strayedSeconds_ = 0.0;
    engagedSeconds_ = -1.0;
}

void DriftCorrector::BeginLine() {
    sw_ = st_ = su_ = stt_ = stu_ = suu_ = regressedSeconds_ = 0.0;
}

void DriftCorrector::GoWide(bool clocksChanged) {
    engagedSeconds_ = 0.0;
    if (clocksChanged && regressedSeconds_ >= SLOPE_KEPT_SECONDS) {
        heldSlope_ = Slope();
        BeginLine();
    }
}

// Adds a reading of the uncorrected fill error u now, the earlier ones dt older.
void DriftCorrector::Regress(double dt, double u) {
    regressedSeconds_ += dt;
    const double fade = 1.0 - dt / SLOPE_SECONDS;
    stt_ = (stt_ - 2.0 * dt * st_ + dt * dt * sw_) * fade;
    stu_ = (stu_ - dt * su_) * fade;
    st_ = (st_ - dt * sw_) * fade;
    sw_ = sw_ * fade + 1.0;
    su_ = su_ * fade + u;
    suu_ = suu_ * fade + u * u;
}

// How far the line's slope may be off by the readings' scatter about it (one standard error).
double DriftCorrector::SlopeError() const {
    const double ctt = stt_ - st_ * st_ / sw_;
    const double ctu = stu_ - st_ * su_ / sw_;
    const double cuu = suu_ - su_ * su_ / sw_;
    if (sw_ <= 2.0 || ctt <= 0.0) {
        return 1.0;
    }
    const double scatter = (cuu - ctu * ctu / ctt) / (sw_ - 2.0);
    return scatter > 0.0 ? std::sqrt(scatter / ctt) : 0.0;
}

double DriftCorrector::Slope() const {
    const double spread = sw_ * stt_ - st_ * st_;
    return spread > 0.0 ? (sw_ * stu_ - st_ * su_) / spread : 0.0;
}

double DriftCorrector::Skew() const {
    return regressedSeconds_ >= SLOPE_FRESH_SECONDS ? Slope() : heldSlope_;
}

double DriftCorrector::ClockRatioPpm() const {
    return Skew() * 1e6;
}

double DriftCorrector::ShownClockRatioPpm() const {
    return engagedSeconds_ >= 0.0 ? ClockRatioPpm() : 0.0;
}

// A narrow loop far out, or out for long, leans on an old slope: the clocks have changed.
void DriftCorrector::WidenWhenStrayed(double dt) {
    if (engagedSeconds_ < 0.0 || LoopOmega(engagedSeconds_) > NARROW_OMEGA) {
        strayedSeconds_ = 0.0;
        return;
    }
    const double off = std::fabs(error_.second);
    strayedSeconds_ = off > STRAYED_BANDS * band_ ? strayedSeconds_ + dt : 0.0;
    if (strayedSeconds_ >= STRAYED_SECONDS || off > WIDEN_BANDS * band_) {
        strayedSeconds_ = 0.0;
        GoWide(true);
    }
}

// Before the first act: true while neither the fitted line nor the filtered fill shows a
// drift. A reading a block off, or a start level a few ms off, moves the line far less than the
// filtered fill.
bool DriftCorrector::StillBypassed() const {
    const double slope = Slope();
    const double watched = regressedSeconds_ < SLOPE_SECONDS ? regressedSeconds_ : SLOPE_SECONDS;
    const bool shown = regressedSeconds_ >= SLOPE_SHOWN_SECONDS &&
                       std::fabs(slope) > SLOPE_SHOWN_ERRORS * SlopeError();
    return (!shown || std::fabs(slope * watched) <= band_) && std::fabs(error_.second) <= stray_;
}

void DriftCorrector::Steer(uint32_t frames, double queueFrames) {
    const double dt = static_cast<double>(frames) / SAMPLE_RATE;
    const double error = (queueFrames - target_) / SAMPLE_RATE;
    const bool engaged = engagedSeconds_ >= 0.0;
    const double clip = WATCH_CLIP_STRAYS * stray_;
    const double watched = Clamp(error, -clip, clip);
    // The frames the resampler holds back are on their way too: counted, its takeover from the
    // bypass (LOOKAHEAD frames held for good) is no step in the fill for the line to tilt at.
    Regress(dt, watched + corrected_ + resampler_.HeldFrames() / SAMPLE_RATE);
    WidenWhenStrayed(dt);
    const double omega = LoopOmega(engaged ? engagedSeconds_ : 0.0);
    // From the target, which is the fill's level over a window: one reading may be a block off.
    const double tau = (engaged ? FILTER_PER_OMEGA / omega : watchSeconds_) / 2;
    const double step = dt / (tau + dt);
    error_.Pass(engaged ? error : watched, step);
    if (!engaged) {
        if (StillBypassed()) {
            return; // the ratio stays exactly 1
        }
        // The slope seen so far is the first estimate of the skew: the loop then refines it
        // rather than finding it. A slope too small to have carried the fill out of the band
        // in the time it was watched is one from before the clocks changed.
        const double slope = Slope();
        GoWide(std::fabs(slope) * regressedSeconds_ < band_ / 2);
        slope_.first = slope_.second = Clamp(slope, -MAX_DEVIATION, MAX_DEVIATION);
    }
    // The slope moves a little with every reading: through the same low-pass as the fill, so
    // that the ratio does not jitter from block to block (a frequency modulation the ear and a
    // tone's distortion would show).
    slope_.Pass(Clamp(Skew(), -MAX_DEVIATION, MAX_DEVIATION), step);
    const double deviation =
        Clamp(slope_.second + 2.0 * omega * error_.second, -MAX_OUTPUT, MAX_OUTPUT);
    resampler_.SetRatio(1.0 + deviation);
    corrected_ += deviation * dt;
    engagedSeconds_ += dt;
}

uint32_t DriftCorrector::Process(const int16_t* input, uint32_t frames, double queueFrames,
                                 int16_t* output) {
    Steer(frames, queueFrames);
    return resampler_.Process(input, frames, output);
}

uint32_t DriftCorrector::Count(uint32_t frames, double queueFrames) {
    Steer(frames, queueFrames);
    return resampler_.Count(frames);
}
