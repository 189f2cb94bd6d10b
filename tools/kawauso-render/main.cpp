// kawauso-render: a WAV file through the live stream's engine, for hearing a setting offline
// and for checking the engine bit for bit across builds.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"
#include "audio/stream_meters.h"
#include "platform/platform.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_state.h"
#include "settings/slot_state_framing.h"
#include "tools/kawauso-render/clock_skew.h"
#include "tools/kawauso-render/render.h"
#include "tools/kawauso-render/wav_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr int EXIT_USAGE = 2;
// An error while running: the plug-in faulted or hung, or OUT could not be written. OUT is
// left as it was.
constexpr int EXIT_RUN_ERROR = 3;
constexpr unsigned HANG_MS = 5000;            // a block that has not returned by then never will
constexpr size_t MAX_KEPT_PATH_UNITS = 32768; // the longest path Windows knows, in UTF-16 units

// The monitor's figures of the whole render, on standard error beside the clipped blocks.
void PrintStats(const MeterReading& reading, size_t effects) {
    const auto level = [](const char* where, const ChannelLevel* channels) {
        std::fprintf(stderr, "%s: peak %.1f %.1f dBFS, rms %.1f %.1f dBFS\n", where,
                     LevelDb(channels[0].peak / 32768.0), LevelDb(channels[1].peak / 32768.0),
                     LevelDb(std::sqrt(channels[0].meanSquare)),
                     LevelDb(std::sqrt(channels[1].meanSquare)));
    };
    level("input", reading.input);
    level("output", reading.output);
    const QueueReading queue = ReadQueueMeter();
    if (queue.captureFrames != 0) { // played through a clock skew: the queue's last write
        std::fprintf(
            stderr,
            "queue: clock skew %+.3f ppm, correction %+.3f ppm, on its way %.1f ms (target "
            "%.1f ms), the program's delay %.1f ms\n",
            queue.skewPpm, queue.ratioPpm, queue.heldFrames * 1000.0 / SAMPLE_RATE,
            queue.targetFrames * 1000.0 / SAMPLE_RATE, ProgramDelayMs(queue));
    }
    for (size_t e = 0; e < effects; ++e) {
        const EffectTime& time = reading.effects[e];
        std::fprintf(
            stderr,
            "effect %zu: %.1f %% of its blocks' time on average, %.1f %% at most (%u blocks)\n",
            e + 1, 100.0 * time.share, 100.0 * time.worstShare, time.blocks);
    }
}

const char USAGE[] =
    "usage: kawauso-render [--pitch P] [--volume V] [--buffer-ms MS] [--no-fade]\n"
    "                      [--plugin PATH [--plugin-state FILE] [--isolated]]... [--block-ahead]\n"
    "                      [--clock-skew-ppm N [--stream wasapi|winmm] [--no-clock-noise]]\n"
    "                      [--stats] IN.wav OUT.wav\n"
    "  --pitch P       pitch slider position, -200 (octave up) .. 200 (octave down); default 0\n"
    "  --volume V      volume slider position, -100 (x10) .. 100 (x0.1); default 0\n"
    "  --buffer-ms MS  buffer length in milliseconds, 10 .. 10000; default 50\n"
    "  --no-fade       no fade-in at the start\n"
    "  --plugin PATH   run the blocks through this VST 2 effect (1 to 64 inputs and outputs)\n"
    "                  instead of the pitch and volume stage, as loading it into a running\n"
    "                  stream would; --pitch and --volume then have no effect. Up to 8, each\n"
    "                  with the two options after it, run in the order given, the samples\n"
    "                  passing from one to the next as floats\n"
    "  --plugin-state FILE  the effect's state, given back to it first: a slot's .vststate file\n"
    "                  as the program keeps it beside its settings, or a bare state\n"
    "  --isolated      the effect in a host process of its own (kawauso-fxhost), which may\n"
    "                  crash or hang without taking the renderer along; a DLL of the other\n"
    "                  bitness always runs so\n"
    "  --block-ahead   every block of the isolated effects one block ahead, as the program\n"
    "                  runs one that cannot keep up: OUT is their sound one block later\n"
    "  --clock-skew-ppm N   play the blocks as if the capture device's clock ran N ppm faster\n"
    "                  (-1000 .. 1000; negative: slower) than the playback device's, through\n"
    "                  the stream's own playback queue and drift corrector; OUT then holds what\n"
    "                  the playback device plays, and the final ratio, the largest queue error,\n"
    "                  breaks and splices after the first 2 s are printed\n"
    "  --stream S      the system whose queue and fill reading are simulated: wasapi (default,\n"
    "                  the buffer a period) or winmm (the buffer a header)\n"
    "  --no-clock-noise  wake-ups on time, fill readings exact, headers given back at once\n"
    "  --stats         print at the end what the monitor shows: each channel's peak and RMS in\n"
    "                  dBFS at the input and the output, each effect's time of its blocks, and\n"
    "                  with a clock skew the queue's clock correction and delay at its end\n"
    "IN.wav must be PCM, 44100 Hz, 16 bits, 2 channels; OUT.wav gets the same length (but for\n"
    "a clock skew).\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "kawauso-render: %s\n%s", problem, USAGE);
    return EXIT_USAGE;
}

// A whole decimal integer within [low, high], nothing else.
bool ParseInt(const char* text, int low, int high, int& value) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

// The chain's effects in this process, the ones whose block can hang the render, by their paths.
std::string InProcessPaths(const RenderOptions& options) {
    std::string paths;
    for (const RenderEffect& effect : options.effects) {
        if (!RenderEffectIsolated(effect)) {
            paths += (paths.empty() ? "" : ", ") + effect.path;
        }
    }
    return paths;
}

// Renders on a thread of its own, watched: a plug-in that stops returning (no block finished
// for HANG_MS) ends the program with EXIT_RUN_ERROR, leaving that thread where it hangs. The
// watch counts only while the effect takes the blocks (pluginActive: from the end of its load
// on), so that an effect that is slow to load is not taken for one that hangs in a block.
bool RenderWatched(const std::vector<int16_t>& input, const RenderOptions& options,
                   std::vector<int16_t>& output, uint32_t& clippedBlocks, RenderFault& fault) {
    std::atomic<bool> finished{false};
    bool rendered = false;
    std::thread worker([&] {
        rendered = RenderSamples(input, options, output, clippedBlocks, fault);
        finished.store(true);
    });
    size_t seen = 0;
    for (auto since = std::chrono::steady_clock::now(); !finished.load();
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        const size_t done = renderBlocksDone.load();
        if (done != seen || pluginActive.load() == 0) {
            seen = done;
            since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - since > std::chrono::milliseconds(HANG_MS)) {
            std::fprintf(stderr,
                         "kawauso-render: %s: the plug-in did not return from block %zu "
                         "within %u ms\n",
                         InProcessPaths(options).c_str(), done + 1, HANG_MS);
            std::fflush(stderr);
            std::_Exit(EXIT_RUN_ERROR);
        }
    }
    worker.join();
    return rendered;
}

// The whole file, when it exists, is not empty and could be a state at all.
bool ReadStateFile(const char* path, std::vector<uint8_t>& bytes) {
    std::FILE* file = FileOpenUtf8(path, "rb");
    if (file == nullptr) {
        return false;
    }
    constexpr size_t PIECE = 65536;
    uint8_t piece[PIECE];
    size_t got = 0;
    while ((got = std::fread(piece, 1, PIECE, file)) > 0 && bytes.size() <= MAX_STATE_BYTES) {
        bytes.insert(bytes.end(), piece, piece + got);
    }
    std::fclose(file);
    // The program's own file for a slot frames the state with the plug-in's path. The path is not
    // compared here (the renderer may run where the plug-in lies elsewhere): the state's own tag
    // still gives it only to the effect it came from.
    SlotStateParts parts;
    if (SplitSlotState(bytes, MAX_KEPT_PATH_UNITS, parts)) {
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(parts.stateOffset));
    }
    return !bytes.empty() && bytes.size() <= MAX_STATE_BYTES + PIECE;
}

// Why the render did not finish, on stderr; the exit code.
int ReportFailure(const RenderOptions& options, const std::vector<const char*>& statePaths,
                  const RenderFault& fault) {
    const char* plugin = options.effects[fault.effect].path.c_str();
    const char* statePath = statePaths[fault.effect];
    const std::string where =
        fault.block == 0 ? "while loading" : "in block " + std::to_string(fault.block);
    if (fault.state != nullptr) {
        std::fprintf(stderr, "kawauso-render: %s: %s\n", statePath, fault.state);
        return EXIT_USAGE;
    }
    if (fault.cause.kind == EffectFaultKind::Fault && fault.cause.code == EFFECT_CHANNELS_CHANGED) {
        std::fprintf(stderr,
                     "kawauso-render: %s: the plug-in changed its number of inputs or outputs %s\n",
                     plugin, where.c_str());
        return EXIT_RUN_ERROR;
    }
    if (fault.cause.kind == EffectFaultKind::Fault) {
        std::fprintf(stderr, "kawauso-render: %s: the plug-in faulted (exception 0x%08X) %s\n",
                     plugin, static_cast<unsigned>(fault.cause.code), where.c_str());
        return EXIT_RUN_ERROR;
    }
    if (fault.cause.kind != EffectFaultKind::None) {
        char cause[96];
        DescribeEffectFault(fault.cause, cause, sizeof cause);
        const bool missing = fault.cause.kind == EffectFaultKind::NotStarted;
        std::fprintf(stderr, "kawauso-render: %s: the plug-in's host process %s %s%s%s%s\n", plugin,
                     cause, where.c_str(), missing ? " (" : "",
                     missing && fault.host != nullptr ? fault.host : "",
                     missing ? " is not beside the renderer, or does not run)" : "");
        return EXIT_RUN_ERROR;
    }
    if (fault.refusal != nullptr) {
        std::fprintf(stderr, "kawauso-render: %s: cannot load the plug-in: %s\n", plugin,
                     fault.refusal);
        return EXIT_USAGE;
    }
    std::fprintf(stderr,
                 "kawauso-render: %s: cannot load the plug-in: it does not load as a "
                 "library, exports neither VSTPluginMain nor main, returns no effect, or "
                 "its effect does not have 1 to 64 inputs, 1 to 64 outputs and a "
                 "processReplacing\n",
                 plugin);
    return EXIT_USAGE;
}

int RunRender(int argc, char** argv) {
    RenderOptions options;
    const char* paths[2] = {nullptr, nullptr};
    // Per effect, in order; --plugin-state and --isolated go with the --plugin before them (or,
    // before any, with the first).
    std::vector<const char*> statePaths;
    std::vector<bool> isolated;
    auto current = [&]() -> size_t {
        if (options.effects.empty() && statePaths.empty()) {
            statePaths.push_back(nullptr);
            isolated.push_back(false);
        }
        return statePaths.size() - 1;
    };
    int pathCount = 0;
    int skewPpm = 0;
    bool skewed = false;
    ClockStream stream = ClockStream::Wasapi;
    bool clockNoise = true;
    bool stats = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* next = (i + 1 < argc) ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (std::strcmp(arg, "--pitch") == 0) {
            if (!ParseInt(next, PITCH_POSITION_MIN, PITCH_POSITION_MAX, options.pitchPosition)) {
                return Usage("--pitch takes a whole number from -200 to 200");
            }
            ++i;
        } else if (std::strcmp(arg, "--volume") == 0) {
            if (!ParseInt(next, VOLUME_POSITION_MIN, VOLUME_POSITION_MAX, options.volumePosition)) {
                return Usage("--volume takes a whole number from -100 to 100");
            }
            ++i;
        } else if (std::strcmp(arg, "--buffer-ms") == 0) {
            if (!ParseInt(next, MIN_BUFFER_MS, MAX_BUFFER_MS, options.bufferMs)) {
                return Usage("--buffer-ms takes a whole number from 10 to 10000");
            }
            ++i;
        } else if (std::strcmp(arg, "--plugin") == 0) {
            if (next == nullptr || *next == '\0') {
                return Usage("--plugin takes the path of a VST 2 plug-in");
            }
            if (options.effects.size() == MAX_CHAIN_EFFECTS) {
                return Usage("at most 8 --plugin");
            }
            if (statePaths.size() == options.effects.size()) {
                statePaths.push_back(nullptr);
                isolated.push_back(false);
            }
            options.effects.push_back(RenderEffect{next, {}, false});
            ++i;
        } else if (std::strcmp(arg, "--plugin-state") == 0) {
            if (next == nullptr || *next == '\0') {
                return Usage("--plugin-state takes the path of a plug-in state file");
            }
            const char*& statePath = statePaths[current()];
            if (statePath != nullptr) {
                return Usage("one --plugin-state for each --plugin");
            }
            statePath = next;
            ++i;
        } else if (std::strcmp(arg, "--isolated") == 0) {
            isolated[current()] = true;
        } else if (std::strcmp(arg, "--block-ahead") == 0) {
            options.blockAhead = true;
        } else if (std::strcmp(arg, "--clock-skew-ppm") == 0) {
            if (!ParseInt(next, -CLOCK_SKEW_MAX_PPM, CLOCK_SKEW_MAX_PPM, skewPpm)) {
                return Usage("--clock-skew-ppm takes a whole number from -1000 to 1000");
            }
            skewed = true;
            ++i;
        } else if (std::strcmp(arg, "--stream") == 0) {
            const bool wasapi = next != nullptr && std::strcmp(next, "wasapi") == 0;
            if (!wasapi && (next == nullptr || std::strcmp(next, "winmm") != 0)) {
                return Usage("--stream takes wasapi or winmm");
            }
            stream = wasapi ? ClockStream::Wasapi : ClockStream::WinMM;
            ++i;
        } else if (std::strcmp(arg, "--no-clock-noise") == 0) {
            clockNoise = false;
        } else if (std::strcmp(arg, "--stats") == 0) {
            stats = true;
        } else if (std::strcmp(arg, "--no-fade") == 0) {
            options.fadeIn = false;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return Usage((std::string("unknown option ") + arg).c_str());
        } else if (pathCount < 2) {
            paths[pathCount++] = arg;
        } else {
            return Usage("too many file names");
        }
    }
    if (pathCount < 2) {
        return Usage("IN.wav and OUT.wav are both needed");
    }
    if (statePaths.size() > options.effects.size()) {
        return Usage(isolated.back() ? "--isolated needs --plugin"
                                     : "--plugin-state needs --plugin");
    }
    bool anyIsolated = false;
    for (size_t e = 0; e < options.effects.size(); ++e) {
        RenderEffect& effect = options.effects[e];
        effect.isolated = isolated[e];
        anyIsolated = anyIsolated || effect.isolated;
        if (statePaths[e] != nullptr && !ReadStateFile(statePaths[e], effect.state)) {
            std::fprintf(stderr,
                         "kawauso-render: %s: cannot read the plug-in state (missing, empty "
                         "or too large)\n",
                         statePaths[e]);
            return EXIT_USAGE;
        }
    }
    if (options.blockAhead && !anyIsolated) {
        return Usage("--block-ahead needs --isolated");
    }

    std::vector<int16_t> input;
    std::string error;
    if (!ReadWavFile(paths[0], input, error)) {
        std::fprintf(stderr, "kawauso-render: %s: %s\n", paths[0], error.c_str());
        return EXIT_USAGE;
    }
    uint32_t clippedBlocks = 0;
    std::vector<int16_t> output;
    RenderFault fault;
    TakeMeterReading(); // from this render's first block
    // A host process's every wait has its limit already; only an effect in this process
    // needs the watch.
    const bool rendered = RenderIsolated(options)
                              ? RenderSamples(input, options, output, clippedBlocks, fault)
                              : RenderWatched(input, options, output, clippedBlocks, fault);
    if (!rendered) {
        return ReportFailure(options, statePaths, fault);
    }
    if (skewed) {
        PlayThroughClockSkew(output, options.bufferMs, stream, skewPpm, clockNoise);
    }
    if (!WriteWavFile(paths[1], output, error)) {
        std::fprintf(stderr, "kawauso-render: %s: %s\n", paths[1], error.c_str());
        return EXIT_RUN_ERROR;
    }
    std::fprintf(stderr, "clipped blocks: %u\n", clippedBlocks);
    if (stats) {
        PrintStats(TakeMeterReading(), options.effects.size());
    }
    return 0;
}

} // namespace

#ifdef _WIN32
// Wide arguments, so any file name reaches the renderer as UTF-8.
int wmain(int argc, wchar_t** wargv) {
    HardenLibrarySearch();
    std::vector<std::string> args(static_cast<size_t>(argc));
    std::vector<char*> argv(static_cast<size_t>(argc) + 1, nullptr);
    for (int i = 0; i < argc; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string& s = args[static_cast<size_t>(i)];
        s.assign(n > 0 ? static_cast<size_t>(n) : 1u, '\0');
        if (n > 0) {
            WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, &s[0], n, nullptr, nullptr);
        }
        s.resize(std::strlen(s.c_str()));
        argv[static_cast<size_t>(i)] = &s[0];
    }
    return RunRender(argc, argv.data());
}
#else
int main(int argc, char** argv) {
    return RunRender(argc, argv);
}
#endif
