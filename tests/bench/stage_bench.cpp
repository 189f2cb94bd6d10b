#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"

namespace {

constexpr uint32_t BLOCK_FRAMES = 2206;       // 50 ms buffers
constexpr uint32_t SHORT_BLOCK_FRAMES = 442;  // 10 ms buffers
constexpr double STEREO_SAMPLES_PER_SECOND = 2.0 * SAMPLE_RATE;

std::vector<int16_t> SpeechLikeBlock() {
    std::vector<int16_t> block(2 * BLOCK_FRAMES);
    for (size_t i = 0; i < block.size(); ++i) {
        double t = static_cast<double>(i / 2) / static_cast<double>(SAMPLE_RATE);
        double phase = static_cast<double>(i & 1);
        block[i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 220 * t) +
                                        3000 * std::sin(2 * M_PI * 1375 * t + phase));
    }
    return block;
}

void ReportPerSample(benchmark::State& state, double samplesPerIteration) {
    const double samples = samplesPerIteration * static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    state.counters["ns_per_sample"] = benchmark::Counter(
        samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] =
        benchmark::Counter(samples / STEREO_SAMPLES_PER_SECOND, benchmark::Counter::kIsRate);
}

// Blocks of `frames` frames through ProcessBlock at the given pitch position. With apart,
// one lone left sample goes first, so the two channels stand at different positions from
// then on (as after any block with an odd sample count).
void RunStageBlocks(benchmark::State& state, uint32_t frames, bool apart) {
    ResetEngineState();
    LockCreate(&EngineLock);
    gain = GainForVolumePosition(-20);
    pitchRatio = PitchRatioForPosition(static_cast<int>(state.range(0)));
    std::vector<int16_t> in = SpeechLikeBlock(), out(in.size());
    in.resize(2 * frames);
    out.resize(2 * frames);
    if (apart) {
        ProcessBlock(in.data(), 2, out.data());
    }
    for (auto _ : state) {
        ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportPerSample(state, static_cast<double>(in.size()));
    LockDestroy(&EngineLock);
}

void StageProcessBlock(benchmark::State& state) { RunStageBlocks(state, BLOCK_FRAMES, false); }
BENCHMARK(StageProcessBlock)->ArgName("pitch")->Arg(0)->Arg(-200)->Arg(200)->Arg(37);

void StageProcessBlockApart(benchmark::State& state) {
    RunStageBlocks(state, BLOCK_FRAMES, true);
}
BENCHMARK(StageProcessBlockApart)->ArgName("pitch")->Arg(0)->Arg(-200)->Arg(200)->Arg(37);

// 10 ms buffers, the shortest the program accepts.
void StageProcessShortBlock(benchmark::State& state) {
    RunStageBlocks(state, SHORT_BLOCK_FRAMES, false);
}
BENCHMARK(StageProcessShortBlock)->ArgName("pitch")->Arg(0)->Arg(-200);

}  // namespace

BENCHMARK_MAIN();
