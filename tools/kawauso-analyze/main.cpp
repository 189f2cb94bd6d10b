// kawauso-analyze: measures recordings of the live program for the end-to-end tests and
// the stream measurements: strongest frequency, level, the level's rise and fall, dropouts
// of a steady tone, click onsets and the delay between a click and its copy.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/kawauso-analyze/dropouts.h"
#include "tools/kawauso-analyze/envelope.h"
#include "tools/kawauso-analyze/signal_file.h"
#include "tools/kawauso-analyze/spectrum.h"

namespace {

constexpr int EXIT_USAGE = 2;
constexpr double CLICK_QUIET_MS = 20.0;

const char USAGE[] =
    "usage: kawauso-analyze COMMAND FILE [ARGS]\n"
    "FILE: .wav (44100 Hz, 16-bit, stereo) or raw s16le stereo 44100 Hz; channels are mixed.\n"
    "  freq FILE [START [DUR]]        strongest frequency in Hz\n"
    "  centroid FILE [START [DUR]]    power-weighted mean frequency in Hz\n"
    "  level FILE [START [DUR]]       rms=R peak=P (full scale 1.0)\n"
    "  shape FILE [START [DUR]]       steady level, start, rise, end and fall of the sound\n"
    "  dropouts FILE [START [DUR]]    gaps and jumps in a steady tone\n"
    "  onsets FILE THRESHOLD          times where clicks reach THRESHOLD\n"
    "  latency FILE THRESHOLD MAX_MS  delay from each click to its copy within MAX_MS\n"
    "START and DUR are seconds (DUR -1: to the end).\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "kawauso-analyze: %s\n%s", problem, USAGE);
    return EXIT_USAGE;
}

bool ParseDouble(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

// FILE [START [DUR]] from argv[2..], read and cut.
bool LoadExcerpt(int argc, char** argv, std::vector<double>& signal) {
    double start = 0.0;
    double duration = -1.0;
    if ((argc > 3 && !ParseDouble(argv[3], start)) ||
        (argc > 4 && !ParseDouble(argv[4], duration)) || argc > 5) {
        Usage("START and DUR must be numbers");
        return false;
    }
    std::vector<double> whole;
    std::string error;
    if (!ReadSignal(argv[2], whole, error)) {
        std::fprintf(stderr, "kawauso-analyze: %s\n", error.c_str());
        return false;
    }
    signal = Excerpt(whole, start, duration);
    return true;
}

int PrintLatency(const std::vector<double>& onsets, double maxMs) {
    std::vector<double> delays;
    for (size_t i = 0; i + 1 < onsets.size(); ++i) {
        const double ms = (onsets[i + 1] - onsets[i]) * 1000.0;
        if (ms <= maxMs) {
            delays.push_back(ms);
            ++i; // the copy is not a new click
        }
    }
    if (delays.empty()) {
        std::printf("pairs=0\n");
        return 1;
    }
    std::vector<double> sorted = delays;
    std::sort(sorted.begin(), sorted.end());
    std::printf("pairs=%zu median_ms=%.1f min_ms=%.1f max_ms=%.1f all=", delays.size(),
                sorted[sorted.size() / 2], sorted.front(), sorted.back());
    for (size_t i = 0; i < delays.size(); ++i) {
        std::printf(i == 0 ? "%.1f" : ",%.1f", delays[i]);
    }
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage("a command and a file are needed");
    }
    const std::string command = argv[1];
    std::vector<double> signal;
    if (command == "onsets" || command == "latency") {
        double threshold = 0.0;
        double maxMs = 0.0;
        const bool wantsMax = command == "latency";
        if (argc != (wantsMax ? 5 : 4) || !ParseDouble(argv[3], threshold) ||
            (wantsMax && !ParseDouble(argv[4], maxMs))) {
            return Usage("bad arguments");
        }
        std::string error;
        if (!ReadSignal(argv[2], signal, error)) {
            std::fprintf(stderr, "kawauso-analyze: %s\n", error.c_str());
            return 1;
        }
        const std::vector<double> onsets = Onsets(signal, threshold, CLICK_QUIET_MS);
        if (wantsMax) {
            return PrintLatency(onsets, maxMs);
        }
        for (double t : onsets) {
            std::printf("%.4f\n", t);
        }
        return 0;
    }
    if (!LoadExcerpt(argc, argv, signal)) {
        return 1;
    }
    if (command == "freq") {
        std::printf("%.1f\n", DominantFrequency(signal));
    } else if (command == "centroid") {
        std::printf("%.1f\n", SpectralCentroid(signal));
    } else if (command == "level") {
        std::printf("rms=%.4f peak=%.4f\n", Rms(signal), Peak(signal));
    } else if (command == "shape") {
        const LevelShape s = MeasureShape(signal);
        std::printf("steady=%.4f start=%.2f rise_ms=%.0f end=%.2f fall_ms=%.0f\n", s.steady,
                    s.startSeconds, s.riseMs, s.endSeconds, s.fallMs);
    } else if (command == "dropouts") {
        const DropoutReport r = FindDropouts(signal);
        std::printf("events=%d gaps=%d longest_gap_ms=%.0f seconds=%.1f\n", r.events, r.silentGaps,
                    r.longestGapMs, static_cast<double>(signal.size()) / ANALYSIS_RATE);
        for (double t : r.eventSeconds) {
            std::printf("at %.3f\n", t);
        }
    } else {
        return Usage("unknown command");
    }
    return 0;
}
