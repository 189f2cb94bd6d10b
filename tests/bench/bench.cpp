// 50 ms blocks (2206 frames) through the built-in stage with its fade ramp, items counted in
// samples, and through the copy-through and hostile test effects, items counted in frames;
// the drift corrector beside the stage, items counted in samples.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "audio/block_processing.h"
#include "audio/drift_corrector.h"
#include "audio/engine_state.h"
#include "audio/slider_tables.h"
#include "audio/stream_meters.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_host.h"
#include "tests/support/test_plugins.h"

namespace {

// With apart, a lone left sample first puts the channels at different ring positions.
void RunStage(benchmark::State& state, uint32_t frames, bool apart) {
    ResetEngineState();
    LockCreate(&EngineLock);
    gain = GainForVolumePosition(-20);
    pitchRatio = PitchRatioForPosition(static_cast<int>(state.range(0)));
    std::vector<int16_t> in(2 * frames), out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(9000 * std::sin(0.03 * static_cast<double>(i / 2 + i % 2)));
    }
    ProcessBlock(in.data(), apart ? 2 : 0, out.data());
    for (auto _ : state) {
        ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
    LockDestroy(&EngineLock);
}

// What the blocks tell the monitor, alone: a 10 ms block's levels in and out (the part of the
// block path that is the monitor's; the reader's takes are on the window's thread).
void RunMeters(benchmark::State& state) {
    std::vector<int16_t> in(2 * 441), out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = out[i] = static_cast<int16_t>(9000 * std::sin(0.03 * static_cast<double>(i)));
    }
    for (auto _ : state) {
        MeterBlock(in.data(), out.data(), static_cast<uint32_t>(in.size()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// The 10 ms block path while the monitor window reads what the blocks tell it, 25 times a
// second on its own thread, beside the same without a reader: its cost to the blocks.
void RunStageRead(benchmark::State& state) {
    std::atomic<bool> reading{state.range(0) != 0};
    std::thread reader([&] {
        while (reading.load()) {
            TakeMeterReading();
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    ResetEngineState();
    LockCreate(&EngineLock);
    gain = pitchRatio = 1.0;
    std::vector<int16_t> in(2 * 441), out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(9000 * std::sin(0.03 * static_cast<double>(i / 2)));
    }
    for (auto _ : state) {
        ProcessBlock(in.data(), static_cast<uint32_t>(in.size() * 2), out.data());
    }
    reading.store(false);
    reader.join();
    LockDestroy(&EngineLock);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

// What the host adds around an effect that does nothing itself, and with outputs full of NaN,
// infinities and values beyond full scale.
void RunBridge(benchmark::State& state, const char* variant) {
    PluginHost host;
    std::vector<float> in(2 * 2206, 0.03f), out(in.size());
    if (!LoadPlugin(host, TestPluginPath(variant).c_str(), 44100)) {
        state.SkipWithError("the test effect did not load (build test_plugins first)");
    }
    SetPluginBlockSize(host, 2206);
    for (auto _ : state) {
        ProcessWithPlugin(host, in.data(), out.data(), 2206);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 2206));
}

// A whole block (10 ms, as WASAPI's live stream runs) through a chain of that many copy-through
// effects in this process, each with a host of its own: the cost of a chain beside one effect's.
void RunChain(benchmark::State& state) {
    const auto count = static_cast<uint32_t>(state.range(0));
    constexpr uint32_t FRAMES = 442;
    ResetEngineState();
    LockCreate(&EngineLock);
    std::vector<EffectHandle*> handles;
    std::vector<ChainLink> links;
    for (uint32_t i = 0; i < count; ++i) {
        handles.push_back(OpenInProcessEffect());
        if (!handles.back()->load(handles.back(), TestPluginPath("copy_through").c_str(), 44100)) {
            state.SkipWithError("the test effect did not load (build test_plugins first)");
        }
        handles.back()->setBlockSize(handles.back(), FRAMES);
        links.push_back({handles.back(), false});
    }
    SetBlockEffects(links.data(), count);
    pluginActive.store(1);
    std::vector<int16_t> in(2 * FRAMES, 1000), out(in.size());
    for (auto _ : state) {
        ProcessBlock(in.data(), FRAMES * 4, out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * FRAMES));
    SetBlockEffect(nullptr);
    pluginActive.store(0);
    for (EffectHandle* handle : handles) {
        CloseEffect(handle);
    }
    LockDestroy(&EngineLock);
}

// The corrector resampling (its queue reading kept a millisecond above the target, so it acts)
// or bypassed (the reading on the target).
void RunCorrector(benchmark::State& state, bool acting) {
    constexpr double TARGET = 132;
    const auto frames = static_cast<uint32_t>(state.range(0));
    DriftCorrector corrector;
    corrector.Start(TARGET, {11, 33, 0.1});
    std::vector<int16_t> in(2 * frames), out(2 * DriftCorrector::MaxOutputFrames(frames));
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(9000 * std::sin(0.03 * static_cast<double>(i / 2 + i % 2)));
    }
    const double reading = acting ? TARGET + 44.1 : TARGET;
    for (auto _ : state) {
        benchmark::DoNotOptimize(corrector.Process(in.data(), frames, reading, out.data()));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

const bool REGISTERED = [] {
    for (bool apart : {false, true}) {
        benchmark::RegisterBenchmark(apart ? "StageBlockApart" : "StageBlock", RunStage, 2206u,
                                     apart)
            ->ArgName("pitch")
            ->ArgsProduct({{0, -200, 200, 37}});
    }
    benchmark::RegisterBenchmark("StageBlockShort", RunStage, 442u, false) // 10 ms
        ->ArgName("pitch")
        ->ArgsProduct({{0, -200}});
    for (bool acting : {true, false}) {
        benchmark::RegisterBenchmark(acting ? "DriftCorrectorResampling" : "DriftCorrectorBypassed",
                                     RunCorrector, acting)
            ->ArgName("frames")
            ->ArgsProduct({{2206, 442}});
    }
    benchmark::RegisterBenchmark("BridgeCopyThrough", RunBridge, "copy_through");
    benchmark::RegisterBenchmark("BridgeHostileOutput", RunBridge, "hostile");
    benchmark::RegisterBenchmark("ChainOfCopies", RunChain)->ArgName("effects")->Arg(1)->Arg(8);
    benchmark::RegisterBenchmark("MeterBlock", RunMeters);
    benchmark::RegisterBenchmark("BlockWithMonitor", RunStageRead)
        ->ArgName("reading")
        ->Arg(0)
        ->Arg(1);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
