// The drift corrector across two simulated device clocks: an hour of each skew in moments,
// and the resampling's distortion measured here, by a least-squares sine fit of our own.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <cmath>
#include <vector>

#include "audio/drift_corrector.h"
#include "audio/queue_settings.h"
#include "audio/resampler.h"
#include "tools/kawauso-render/clock_skew.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr uint32_t RATE = 44100;

// The live streams' own queue and settings, each system's fill reading modelled: an hour of
// each skew, and a step of 200 ppm either way half-way through. No break and no splice after
// the start, the fill within a block of its level, the bypass all hour on one clock. The skew
// estimate: within 2 ppm on WASAPI from a minute in (a minute and a half after a step); on
// WinMM, whose position moves 10 ms at a time against its 20 ms blocks, within 2.5 ppm from
// three minutes in and 5 ppm at the end (after a step it takes minutes). At +1000 ppm the
// position's steps beat with the blocks only every 75 s, and a line three minutes long is still
// off by up to 20 ppm.
// What a user reads of it stays within as much of 0 on one clock all hour, first seconds too.
TEST(DriftCorrector, HoldsTheLiveQueueForAnHourAtEverySkewWithoutABreak) {
    constexpr size_t HOUR = size_t{3600} * RATE;
    const struct {
        ClockStream stream;
        uint32_t blockFrames; // a 10 ms period, 20 ms headers
        double ratioPpm;      // the estimate's largest error once settled
        double slowBeatPpm;   // the same where the reading's steps beat slowest
    } systems[] = {{ClockStream::Wasapi, 442, 2.0, 2.0}, {ClockStream::WinMM, 883, 2.5, 20.0}};
    const struct {
        double ppm, step;
    } skews[] = {{-1000, 0}, {-200, 0}, {-100, 0}, {-50, 0},  {-10, 0}, {0, 0},    {10, 0},
                 {50, 0},    {100, 0},  {200, 0},  {1000, 0}, {0, 200}, {0, -200}, {100, -200}};
    for (const auto& system : systems) {
        for (const auto& skew : skews) {
            ClockSkewRun run;
            run.stream = system.stream;
            run.blockFrames = system.blockFrames;
            run.skewPpm = skew.ppm;
            run.stepPpm = skew.step;
            run.stepSeconds = skew.step != 0 ? 1800.0 : 0.0;
            const ClockSkewReport r = SimulateClockSkew(nullptr, HOUR, run, nullptr);
            const double blockMs = system.blockFrames * 1000.0 / RATE;
            const bool slowAfterStep = system.stream == ClockStream::WinMM && skew.step != 0;
            const bool oneClock = skew.ppm == 0 && skew.step == 0;
            const double ratioBound = skew.ppm >= 1000 ? system.slowBeatPpm : system.ratioPpm;
            EXPECT_EQ(
                (std::make_tuple(r.breaks, r.splices, r.largestQueueErrorMs <= blockMs,
                                 slowAfterStep || r.largestRatioErrorPpm <= ratioBound,
                                 std::fabs(r.ratioPpm - skew.ppm - skew.step) <= 5.0, r.bypassed,
                                 !oneClock || r.largestShownPpm <= system.ratioPpm)),
                (std::make_tuple(0u, 0u, true, true, true, oneClock, true)))
                << (system.stream == ClockStream::Wasapi ? "WASAPI " : "WinMM ") << skew.ppm
                << " ppm, step " << skew.step << ": queue off by up to " << r.largestQueueErrorMs
                << " ms, ratio by " << r.largestRatioErrorPpm << " ppm, at the end " << r.ratioPpm
                << ", shown up to " << r.largestShownPpm;
        }
    }
}

// A fill read exactly, each block: the estimate is the skew within 0.3 ppm a minute in. The
// frames the resampler holds back once it takes over from the bypass are no drift; taken for a
// step in the fill, they tilt the young line by ppm.
TEST(DriftCorrector, ReadsTheSkewOfAnExactlyReadQueueWithinAMinute) {
    const uint32_t block = 441;
    for (double ppm : {-1000.0, -200.0, -50.0, 50.0, 200.0, 1000.0}) {
        DriftCorrector corrector;
        const QueueSettings settings = WasapiQueueSettings(block);
        corrector.Start(settings.targetFrames + block, settings.corrector);
        double fill = settings.targetFrames, seconds = 0.0;
        while (seconds < 60.0) {
            fill += corrector.Count(block, fill + block);
            const double dt = block / (RATE * (1.0 + ppm * 1e-6));
            fill -= dt * RATE;
            seconds += dt;
        }
        EXPECT_NEAR(corrector.ClockRatioPpm(), ppm, 0.3) << ppm << " ppm";
    }
}

// Count must agree with Process frame for frame, or the simulated hours mean nothing; the
// bypass must copy, and the interpolator take over from it without a seam: its first block
// is the tone itself at the positions the ratio steps to. Blocks of odd lengths from one
// tone (the right channel 7 frames ahead), the ratio changed between them, 1 again at the end.
TEST(DriftCorrector, CountingAgreesWithResamplingAndTheBypassCopies) {
    Resampler counted, resampled;
    counted.Reset();
    resampled.Reset();
    const auto tone = [](double t, int right) { return 9000 * std::sin(0.5 * (t + 7 * right)); };
    std::vector<int16_t> in(2 * 20000), out(2 * Resampler::MaxOutputFrames(1000));
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(std::lround(tone(static_cast<double>(i / 2), i % 2)));
    }
    const double ratios[] = {1.0, 1.01, 0.9991, 1.00002, 0.99, 1.0009, 1.0};
    const uint32_t blocks[] = {441, 7, 1000, 1, 883, 3, 0, 512};
    uint32_t fed = 0;
    for (double ratio : ratios) {
        for (uint32_t frames : blocks) {
            counted.SetRatio(ratio);
            resampled.SetRatio(ratio);
            const bool wasBypassed = resampled.Bypassed();
            const uint32_t n = resampled.Process(&in[2 * fed], frames, out.data());
            ASSERT_EQ(counted.Count(frames), n) << "ratio " << ratio << ", " << frames;
            const bool copied = resampled.Bypassed(), takenOver = wasBypassed && !copied;
            for (uint32_t i = 0; (copied || takenOver) && i < 2 * n; ++i) {
                ASSERT_NEAR(out[i], copied ? in[2 * fed + i] : tone(fed + (i / 2) * ratio, i % 2),
                            copied ? 0 : 3)
                    << "ratio " << ratio << ", " << i;
            }
            fed += frames;
        }
    }
}

// On one clock the level moves without drift and is held as it is, with the live settings of
// both systems: a raise (silence put ahead, the target moved with it), and a burst of delay a
// stall leaves (the device's whole buffer, 40 ms, until the queue's window splices it out).
// Ten seconds: a burst still tilts the line a little, which it shows after twenty, and a long
// one may then make the corrector act at the slope it finds, a fraction of a ppm.
TEST(DriftCorrector, HoldsALevelThatMovesWithoutDriftWithoutResampling) {
    const struct {
        const char* name;
        QueueSettings settings;
        double raise, burst;
    } rows[] = {{"WASAPI raise", WasapiQueueSettings(441), 441, 0},
                {"WASAPI burst", WasapiQueueSettings(441), 0, 1764},
                {"WinMM raise", WaveQueueSettings(882), 882, 0},
                {"WinMM burst", WaveQueueSettings(882), 0, 1764}};
    constexpr int FROM = 100, BURST_BLOCKS = 50; // at 1 s, for half a second
    for (const auto& row : rows) {
        DriftCorrector corrector;
        const double target = row.settings.targetFrames;
        corrector.Start(target, row.settings.corrector);
        double queue = target;
        for (int block = 0; block < 1000; ++block) { // 10 ms blocks
            queue += block == FROM ? row.raise : 0;
            corrector.MoveTarget(block == FROM ? row.raise : 0);
            const bool burst = block >= FROM && block < FROM + BURST_BLOCKS;
            queue += corrector.Count(441, queue + (burst ? row.burst : 0)) - 441.0;
        }
        EXPECT_EQ(std::make_pair(queue, corrector.Bypassed()),
                  std::make_pair(target + row.raise, true))
            << row.name;
    }
}

// THD+N of one channel over a window: the residual after fitting DC, the tone and a linear
// drift of its amplitude and phase, against the fitted tone.
double ThdPlusNoiseDb(const std::vector<int16_t>& stereo, size_t first, size_t count,
                      double cyclesPerFrame) {
    constexpr int K = 5;
    double a[K][K + 1] = {};
    auto basis = [&](size_t n, double* b) {
        const double t = static_cast<double>(n) - static_cast<double>(first + count / 2);
        const double w = 2 * PI * cyclesPerFrame * t;
        const double u = t / static_cast<double>(count);
        b[0] = 1, b[1] = std::sin(w), b[2] = std::cos(w), b[3] = u * b[1], b[4] = u * b[2];
    };
    for (size_t n = first; n < first + count; ++n) {
        double b[K];
        basis(n, b);
        for (int i = 0; i < K; ++i) {
            for (int j = 0; j < K; ++j) {
                a[i][j] += b[i] * b[j];
            }
            a[i][K] += b[i] * stereo[2 * n];
        }
    }
    for (int i = 0; i < K; ++i) { // Gauss-Jordan; the matrix is positive definite
        for (int r = 0; r < K; ++r) {
            if (r != i) {
                const double f = a[r][i] / a[i][i];
                for (int c = i; c <= K; ++c) {
                    a[r][c] -= f * a[i][c];
                }
            }
        }
    }
    double residual = 0, tone = 0;
    for (size_t n = first; n < first + count; ++n) {
        double b[K], fit = 0, sine = 0;
        basis(n, b);
        for (int i = 0; i < K; ++i) {
            fit += a[i][K] / a[i][i] * b[i];
            sine += i == 0 ? 0 : a[i][K] / a[i][i] * b[i];
        }
        residual += (stereo[2 * n] - fit) * (stereo[2 * n] - fit);
        tone += sine * sine;
    }
    return 10 * std::log10(residual / tone);
}

// A tone at -6 dBFS through 200 ppm of skew on WASAPI's queue, measured once the loop has
// narrowed (40 s on).
TEST(DriftCorrector, ResamplesThroughA200PpmSkewCleanly) {
    constexpr double PPM = 200;
    constexpr size_t FRAMES = size_t{43} * RATE;
    const struct {
        double hz;
        double limitDb;
    } cases[] = {{1000, -85}, {8000, -75}};
    for (const auto& c : cases) {
        std::vector<int16_t> tone(2 * FRAMES);
        for (size_t n = 0; n < FRAMES; ++n) {
            tone[2 * n] = tone[2 * n + 1] = static_cast<int16_t>(
                std::lround(16384 * std::sin(2 * PI * c.hz * static_cast<double>(n) / RATE)));
        }
        std::vector<int16_t> played;
        ClockSkewRun run;
        run.skewPpm = PPM;
        SimulateClockSkew(tone.data(), FRAMES, run, &played);
        ASSERT_GT(played.size(), 2 * size_t{42} * RATE);
        double worst = -200;
        for (size_t first = size_t{40} * RATE; first + 8192 < size_t{42} * RATE; first += 8192) {
            worst = std::max(worst,
                             ThdPlusNoiseDb(played, first, 8192, c.hz * (1 + PPM * 1e-6) / RATE));
        }
        EXPECT_LE(worst, c.limitDb) << c.hz << " Hz";
    }
}

} // namespace
