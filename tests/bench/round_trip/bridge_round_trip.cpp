// BridgeRoundTrip: what a host process adds to a block. A 441-frame stereo block through the
// copy-through test effect, 10,000 times in this process and 10,000 times in a host process
// (kawauso-fxhost beside this program); the median and the 99th percentile of each, and the
// difference; then the same for a chain of eight host processes on the live block path.
// Built in every tree: natively, and under Wine in both Windows builds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "tests/support/sample_blocks.h"
#include "plugin/effect_handle.h"
#include "tests/support/test_plugins.h"

namespace {

constexpr uint32_t FRAMES = 441;
constexpr int BLOCKS = 10000;
constexpr int WARM_UP = 200;

struct Spread {
    double median, p99; // microseconds per block
};

Spread Measure(EffectHandle* handle) {
    std::vector<int16_t> in(2 * FRAMES), out(in.size());
    std::generate(in.begin(), in.end(),
                  [i = 0]() mutable { return static_cast<int16_t>(i++ * 97); });
    std::vector<double> times(BLOCKS);
    for (int i = -WARM_UP; i < BLOCKS; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!ProcessHandleSamples(handle, in.data(), out.data(), FRAMES)) {
            return {-1.0, -1.0};
        }
        const std::chrono::duration<double, std::micro> spent =
            std::chrono::steady_clock::now() - start;
        if (i >= 0) {
            times[static_cast<size_t>(i)] = spent.count();
        }
    }
    std::sort(times.begin(), times.end());
    return {times[BLOCKS / 2], times[BLOCKS * 99 / 100]};
}

Spread Run(EffectHandle* handle) {
    Spread spread = {-1.0, -1.0};
    if (handle->load(handle, TestPluginPath("copy_through").c_str(), 44100)) {
        handle->setBlockSize(handle, FRAMES);
        spread = Measure(handle);
    }
    CloseEffect(handle);
    return spread;
}

// The live program's block path, as the stream calls it (blocks of 10 ms, the host processes
// with the live limits), through the stage alone and through a chain of eight copy-through
// effects, each in a host process of its own: what such a chain adds to a block. How many of
// the chain's blocks some effect answered in time goes to answered.
Spread MeasureBlocks(std::vector<EffectHandle*>& chain, int& answered) {
    std::vector<ChainLink> links;
    for (EffectHandle* h : chain) {
        links.push_back({h, false});
    }
    SetBlockEffects(links.data(), static_cast<uint32_t>(links.size()));
    pluginActive.store(1);
    std::vector<int16_t> in(2 * FRAMES), out(in.size());
    std::generate(in.begin(), in.end(),
                  [i = 0]() mutable { return static_cast<int16_t>(i++ * 97); });
    std::vector<double> times(BLOCKS);
    const uint64_t framesBefore = EffectFramesProcessed();
    for (int i = -WARM_UP; i < BLOCKS; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ProcessBlock(in.data(), FRAMES * 4, out.data());
        const std::chrono::duration<double, std::micro> spent =
            std::chrono::steady_clock::now() - start;
        if (i >= 0) {
            times[static_cast<size_t>(i)] = spent.count();
        }
    }
    answered = static_cast<int>((EffectFramesProcessed() - framesBefore) / FRAMES) - WARM_UP;
    SetBlockEffects(nullptr, 0);
    std::sort(times.begin(), times.end());
    return {times[BLOCKS / 2], times[BLOCKS * 99 / 100]};
}

bool ChainThroughTheBlocks(const std::string& host) {
    constexpr size_t CHAIN = MAX_CHAIN_EFFECTS;
    LockCreate(&EngineLock);
    ResetEngineState();
    gain = pitchRatio = 1.0;
    std::vector<EffectHandle*> none, chain;
    int ignored = 0, answered = 0;
    const Spread stage = MeasureBlocks(none, ignored);
    bool loaded = true;
    for (size_t i = 0; i < CHAIN; ++i) {
        chain.push_back(OpenHostProcessEffect(host.c_str(), FxLimits()));
        loaded = chain.back()->load(chain.back(), TestPluginPath("copy_through").c_str(), 44100) &&
                 loaded;
        chain.back()->setBlockSize(chain.back(), FRAMES);
    }
    const Spread hosted = loaded ? MeasureBlocks(chain, answered) : Spread{-1.0, -1.0};
    for (EffectHandle* h : chain) {
        CloseEffect(h);
    }
    LockDestroy(&EngineLock);
    if (!loaded) {
        std::fprintf(stderr, "BridgeRoundTrip: the chain's effects did not load (%s)\n",
                     host.c_str());
        return false;
    }
    std::printf("Blocks of %u frames through the live block path, microseconds per block\n",
                static_cast<unsigned>(FRAMES));
    std::printf("  the stage alone median %8.1f  p99 %8.1f\n", stage.median, stage.p99);
    std::printf("  %zu in host processes median %8.1f  p99 %8.1f  (%d of %d blocks answered)\n",
                CHAIN, hosted.median, hosted.p99, answered, BLOCKS);
    std::printf("  added           median %8.1f  p99 %8.1f\n", hosted.median - stage.median,
                hosted.p99 - stage.p99);
    return true;
}

} // namespace

int main() {
    const std::string host = ProgramDirectory() + PATH_SEPARATOR + FX_HOST_NAME;
    const Spread here = Run(OpenInProcessEffect());
    FxLimits limits; // every block waited for: the round trip is measured, not the misses
    limits.blockWaitMs = limits.hangMs;
    const Spread hosted = Run(OpenHostProcessEffect(host.c_str(), limits));
    if (here.median < 0 || hosted.median < 0) {
        std::fprintf(stderr, "BridgeRoundTrip: the copy-through effect did not run (%s)\n",
                     host.c_str());
        return 1;
    }
    std::printf("BridgeRoundTrip, %d blocks of %u frames, microseconds per block\n", BLOCKS,
                static_cast<unsigned>(FRAMES));
    std::printf("  in-process      median %8.1f  p99 %8.1f\n", here.median, here.p99);
    std::printf("  host process    median %8.1f  p99 %8.1f\n", hosted.median, hosted.p99);
    std::printf("  added           median %8.1f  p99 %8.1f\n", hosted.median - here.median,
                hosted.p99 - here.p99);
    return ChainThroughTheBlocks(host) ? 0 : 1;
}
