#include "tools/kawauso-analyze/signal_file.h"

#include <cstdint>
#include <cstdio>

#include "tools/kawauso-render/wav_file.h"

namespace {

constexpr double FULL_SCALE = 32768.0;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool ReadRaw(const std::string& path, std::vector<int16_t>& samples, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open " + path;
        return false;
    }
    uint8_t bytes[4096];
    size_t got = 0;
    bool odd = false;
    uint8_t pending = 0;
    while ((got = std::fread(bytes, 1, sizeof bytes, file)) > 0) {
        size_t i = 0;
        if (odd) {
            samples.push_back(static_cast<int16_t>(pending | (bytes[0] << 8)));
            i = 1;
            odd = false;
        }
        for (; i + 1 < got; i += 2) {
            samples.push_back(static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
        if (i < got) {
            pending = bytes[i];
            odd = true;
        }
    }
    std::fclose(file);
    return true;
}

} // namespace

bool ReadSignal(const std::string& path, std::vector<double>& mono, std::string& error) {
    std::vector<int16_t> samples;
    const bool ok = EndsWith(path, ".wav") ? ReadWavFile(path.c_str(), samples, error)
                                           : ReadRaw(path, samples, error);
    if (!ok) {
        return false;
    }
    mono.clear();
    mono.reserve(samples.size() / 2);
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        mono.push_back((samples[i] + samples[i + 1]) / (2.0 * FULL_SCALE));
    }
    return true;
}

std::vector<double> Excerpt(const std::vector<double>& signal, double startSeconds,
                            double durationSeconds) {
    const double first = startSeconds < 0.0 ? 0.0 : startSeconds * ANALYSIS_RATE;
    size_t begin = static_cast<size_t>(first);
    if (begin > signal.size()) {
        begin = signal.size();
    }
    size_t end = signal.size();
    if (durationSeconds >= 0.0) {
        const double last = static_cast<double>(begin) + durationSeconds * ANALYSIS_RATE;
        if (last < static_cast<double>(end)) {
            end = static_cast<size_t>(last);
        }
    }
    return std::vector<double>(signal.begin() + static_cast<std::ptrdiff_t>(begin),
                               signal.begin() + static_cast<std::ptrdiff_t>(end));
}
