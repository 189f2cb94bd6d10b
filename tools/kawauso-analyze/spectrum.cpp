#include "tools/kawauso-analyze/spectrum.h"

#include <cmath>
#include <complex>

#include "tools/kawauso-analyze/signal_file.h"

namespace {

constexpr size_t MIN_LENGTH = 1024;
constexpr size_t MAX_LENGTH = 65536;
constexpr double PI = 3.14159265358979323846;
constexpr double SILENT_POWER = 1e-12;

// In-place iterative radix-2 transform; data.size() is a power of two.
void Transform(std::vector<std::complex<double>>& data) {
    const size_t n = data.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(data[i], data[j]);
        }
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * PI / static_cast<double>(length);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += length) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> u = data[i + k];
                const std::complex<double> v = data[i + k + length / 2] * w;
                data[i + k] = u + v;
                data[i + k + length / 2] = u - v;
                w *= step;
            }
        }
    }
}

// Power spectra of half-overlapping Hann-windowed blocks, summed, so a long recording
// counts whole; the block is the longest power of two up to 2^16 that fits. Empty when the
// signal is too short.
std::vector<double> SummedPower(const std::vector<double>& signal, size_t& n) {
    n = MIN_LENGTH;
    if (signal.size() < n) {
        return {};
    }
    while (n * 2 <= signal.size() && n * 2 <= MAX_LENGTH) {
        n *= 2;
    }
    std::vector<double> power(n / 2 + 1, 0.0);
    std::vector<std::complex<double>> data(n);
    for (size_t start = 0; start + n <= signal.size(); start += n / 2) {
        for (size_t i = 0; i < n; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2.0 * PI * static_cast<double>(i) /
                                                     static_cast<double>(n - 1));
            data[i] = signal[start + i] * hann;
        }
        Transform(data);
        for (size_t k = 0; k <= n / 2; ++k) {
            power[k] += std::norm(data[k]);
        }
    }
    return power;
}

} // namespace

double DominantFrequency(const std::vector<double>& signal) {
    size_t n = 0;
    const std::vector<double> power = SummedPower(signal, n);
    if (power.empty()) {
        return 0.0;
    }
    size_t best = 1;
    for (size_t k = 2; k < n / 2; ++k) {
        if (power[k] > power[best]) {
            best = k;
        }
    }
    if (power[best] < SILENT_POWER) {
        return 0.0;
    }
    const double a = std::log(power[best - 1] + SILENT_POWER);
    const double b = std::log(power[best] + SILENT_POWER);
    const double c = std::log(power[best + 1] + SILENT_POWER);
    const double denominator = a - 2.0 * b + c;
    const double offset = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
    return (static_cast<double>(best) + offset) * ANALYSIS_RATE / static_cast<double>(n);
}

double SpectralCentroid(const std::vector<double>& signal) {
    size_t n = 0;
    const std::vector<double> power = SummedPower(signal, n);
    double weighted = 0.0;
    double total = 0.0;
    for (size_t k = 1; k < power.size(); ++k) {
        const double hz = static_cast<double>(k) * ANALYSIS_RATE / static_cast<double>(n);
        weighted += hz * power[k];
        total += power[k];
    }
    return total < SILENT_POWER ? 0.0 : weighted / total;
}

double Rms(const std::vector<double>& signal) {
    if (signal.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (double x : signal) {
        sum += x * x;
    }
    return std::sqrt(sum / static_cast<double>(signal.size()));
}

double Peak(const std::vector<double>& signal) {
    double peak = 0.0;
    for (double x : signal) {
        peak = std::fabs(x) > peak ? std::fabs(x) : peak;
    }
    return peak;
}
