#include "tools/kawauso-analyze/envelope.h"

#include <algorithm>
#include <cmath>

#include "tools/kawauso-analyze/signal_file.h"

namespace {

constexpr size_t WINDOW = 441; // 10 ms
constexpr double WINDOW_MS = 10.0;
constexpr double LOW = 0.1;
constexpr double HIGH = 0.9;
constexpr double STEADY_PERCENTILE = 0.9;

std::vector<double> WindowLevels(const std::vector<double>& signal) {
    std::vector<double> levels;
    for (size_t i = 0; i + WINDOW <= signal.size(); i += WINDOW) {
        double sum = 0.0;
        for (size_t k = i; k < i + WINDOW; ++k) {
            sum += signal[k] * signal[k];
        }
        levels.push_back(std::sqrt(sum / WINDOW));
    }
    return levels;
}

} // namespace

LevelShape MeasureShape(const std::vector<double>& signal) {
    LevelShape shape;
    const std::vector<double> levels = WindowLevels(signal);
    if (levels.empty()) {
        return shape;
    }
    std::vector<double> sorted = levels;
    std::sort(sorted.begin(), sorted.end());
    shape.steady =
        sorted[static_cast<size_t>(STEADY_PERCENTILE * static_cast<double>(sorted.size() - 1))];
    if (shape.steady <= 0.0) {
        return shape;
    }
    const size_t n = levels.size();
    size_t k = 0;
    while (k < n && levels[k] < LOW * shape.steady) {
        ++k;
    }
    if (k == n) {
        return shape;
    }
    shape.startSeconds = static_cast<double>(k) * WINDOW_MS / 1000.0;
    size_t up = k;
    while (up < n && levels[up] < HIGH * shape.steady) {
        ++up;
    }
    shape.riseMs = static_cast<double>(up - k) * WINDOW_MS;
    size_t lastHigh = n - 1;
    while (lastHigh > 0 && levels[lastHigh] < HIGH * shape.steady) {
        --lastHigh;
    }
    size_t down = lastHigh;
    while (down < n && levels[down] >= LOW * shape.steady) {
        ++down;
    }
    shape.endSeconds = static_cast<double>(down) * WINDOW_MS / 1000.0;
    shape.fallMs = static_cast<double>(down - lastHigh) * WINDOW_MS;
    return shape;
}

std::vector<double> Onsets(const std::vector<double>& signal, double threshold, double quietMs) {
    std::vector<double> onsets;
    const double quiet = quietMs * ANALYSIS_RATE / 1000.0;
    double lastLoud = -1e18;
    for (size_t n = 0; n < signal.size(); ++n) {
        if (std::fabs(signal[n]) >= threshold) {
            if (static_cast<double>(n) - lastLoud > quiet) {
                onsets.push_back(static_cast<double>(n) / ANALYSIS_RATE);
            }
            lastLoud = static_cast<double>(n);
        }
    }
    return onsets;
}
