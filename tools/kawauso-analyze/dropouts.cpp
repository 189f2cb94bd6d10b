#include "tools/kawauso-analyze/dropouts.h"

#include <algorithm>
#include <cmath>

#include "tools/kawauso-analyze/signal_file.h"
#include "tools/kawauso-analyze/spectrum.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr size_t BLOCK = 44;            // 1 ms
constexpr double SILENT_FRACTION = 0.1; // a block whose peak is below this of the tone's
constexpr size_t MIN_GAP_BLOCKS = 2;
// A sine obeys x[n] = 2cos(w) x[n-1] - x[n-2]; a jump of this fraction of the amplitude
// breaks it far above rounding and slow level changes.
constexpr double JUMP_FRACTION = 0.1;
constexpr double MERGE_MS = 30.0;

// The tone's amplitude: the median of the 1 ms block peaks, robust against gaps.
double ToneAmplitude(const std::vector<double>& signal) {
    std::vector<double> peaks;
    for (size_t i = 0; i + BLOCK <= signal.size(); i += BLOCK) {
        double p = 0.0;
        for (size_t k = i; k < i + BLOCK; ++k) {
            p = std::max(p, std::fabs(signal[k]));
        }
        peaks.push_back(p);
    }
    if (peaks.empty()) {
        return 0.0;
    }
    std::nth_element(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(peaks.size() / 2),
                     peaks.end());
    return peaks[peaks.size() / 2];
}

// Sample positions where something breaks the tone, in order.
std::vector<size_t> BreakPositions(const std::vector<double>& signal, double amplitude,
                                   DropoutReport& report) {
    std::vector<size_t> breaks;
    const double w = 2.0 * PI * DominantFrequency(signal) / ANALYSIS_RATE;
    const double c = 2.0 * std::cos(w);
    const double limit = JUMP_FRACTION * amplitude;
    for (size_t n = 2; n < signal.size(); ++n) {
        if (std::fabs(signal[n] - c * signal[n - 1] + signal[n - 2]) > limit) {
            breaks.push_back(n);
        }
    }
    size_t run = 0;
    for (size_t i = 0; i + BLOCK <= signal.size(); i += BLOCK) {
        double p = 0.0;
        for (size_t k = i; k < i + BLOCK; ++k) {
            p = std::max(p, std::fabs(signal[k]));
        }
        if (p < SILENT_FRACTION * amplitude) {
            ++run;
            continue;
        }
        if (run >= MIN_GAP_BLOCKS) {
            ++report.silentGaps;
            report.longestGapMs = std::max(report.longestGapMs, static_cast<double>(run));
            breaks.push_back(i - run * BLOCK);
        }
        run = 0;
    }
    std::sort(breaks.begin(), breaks.end());
    return breaks;
}

} // namespace

DropoutReport FindDropouts(const std::vector<double>& signal) {
    DropoutReport report;
    const double amplitude = ToneAmplitude(signal);
    if (amplitude <= 0.0) {
        return report;
    }
    const std::vector<size_t> breaks = BreakPositions(signal, amplitude, report);
    const double merge = MERGE_MS * ANALYSIS_RATE / 1000.0;
    double last = -1e18;
    for (size_t b : breaks) {
        if (static_cast<double>(b) - last > merge) {
            ++report.events;
            report.eventSeconds.push_back(static_cast<double>(b) / ANALYSIS_RATE);
        }
        last = static_cast<double>(b);
    }
    return report;
}
