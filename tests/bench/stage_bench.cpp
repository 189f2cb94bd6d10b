#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"

namespace {

constexpr uint32_t BLOCK_FRAMES = 2206;  // 50 ms buffers
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

void StageProcessBlock(benchmark::State& state) {
    ResetEngineState();
    LockCreate(&EngineLock);
    gain = GainForVolumePosition(-20);
    pitchRatio = PitchRatioForPosition(static_cast<int>(state.range(0)));
    std::vector<int16_t> in = SpeechLikeBlock(), out(in.size());
    for (auto _ : state) {
        ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportPerSample(state, static_cast<double>(in.size()));
    LockDestroy(&EngineLock);
}
BENCHMARK(StageProcessBlock)->ArgName("pitch")->Arg(0)->Arg(-200)->Arg(200)->Arg(37);

}  // namespace

BENCHMARK_MAIN();
