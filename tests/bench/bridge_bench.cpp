// One 50 ms block through a real effect: the 16-bit/float conversion round trip around the
// effect's processReplacing, counted in frames.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_host.h"
#include "tests/support/test_plugins.h"

namespace {

constexpr uint32_t BRIDGE_BLOCK_FRAMES = 2206;  // 50 ms buffers

std::vector<int16_t> MusicLikeBlock() {
    std::vector<int16_t> block(2 * BRIDGE_BLOCK_FRAMES);
    for (size_t i = 0; i < block.size(); ++i) {
        const double t = static_cast<double>(i / 2) / static_cast<double>(SAMPLE_RATE);
        block[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 330 * t) -
                                        7000 * std::sin(2 * M_PI * 2750 * t + static_cast<double>(i & 1)));
    }
    return block;
}

void ReportPerFrame(benchmark::State& state) {
    const double frames = static_cast<double>(BRIDGE_BLOCK_FRAMES) *
                          static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    state.counters["ns_per_frame"] = benchmark::Counter(
        frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] =
        benchmark::Counter(frames / static_cast<double>(SAMPLE_RATE), benchmark::Counter::kIsRate);
}

void RunBridge(benchmark::State& state, const char* variant) {
    ResetEngineState();
    LockCreate(&EngineLock);
    if (!LoadPlugin(TestPluginPath(variant).c_str(), static_cast<int32_t>(SAMPLE_RATE))) {
        state.SkipWithError("the test effect did not load (build tests/plugins first)");
        LockDestroy(&EngineLock);
        return;
    }
    SetPluginBlockSize(BRIDGE_BLOCK_FRAMES);
    std::vector<int16_t> in = MusicLikeBlock(), out(in.size());
    for (auto _ : state) {
        ProcessWithPlugin(in.data(), out.data(), BRIDGE_BLOCK_FRAMES);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state);
    UnloadPlugin();
    LockDestroy(&EngineLock);
}

// The figure that matters: what the host adds around an effect that does nothing itself.
void BridgeCopyThrough(benchmark::State& state) { RunBridge(state, "copy_through"); }
BENCHMARK(BridgeCopyThrough);

// An effect whose outputs are full of NaN, infinities and out-of-range values.
void BridgeHostileOutput(benchmark::State& state) { RunBridge(state, "hostile"); }
BENCHMARK(BridgeHostileOutput);

}  // namespace
