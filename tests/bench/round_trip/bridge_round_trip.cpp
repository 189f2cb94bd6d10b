// BridgeRoundTrip: what a host process adds to a block. A 441-frame stereo block through the
// copy-through test effect, 10,000 times in this process and 10,000 times in a host process
// (kawauso-fxhost beside this program); the median and the 99th percentile of each, and the
// difference. Built in every tree: natively, and under Wine in both Windows builds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

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
    return 0;
}
