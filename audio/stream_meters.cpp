#include "audio/stream_meters.h"

#include <atomic>
#include <cmath>

#include "audio/audio_format.h"

namespace {

constexpr double FULL_SCALE = 32768.0;

struct ChannelSums {
    std::atomic<uint32_t> peak{0};
    std::atomic<uint64_t> squares{0}; // of the 16-bit samples
};
struct EffectSums {
    std::atomic<uint32_t> blocks{0};
    std::atomic<uint64_t> nanoseconds{0};
    std::atomic<uint64_t> blockNanoseconds{0}; // the blocks' own length
    std::atomic<uint32_t> worstPerMillion{0};  // the largest share of one block, in millionths
};

std::atomic<uint64_t> meteredFrames{0};
ChannelSums inputSums[METER_CHANNELS], outputSums[METER_CHANNELS];
EffectSums effectSums[MAX_CHAIN_EFFECTS];

// A larger value in place of a smaller one; a take meanwhile (to 0) is not undone wrongly.
void RaiseTo(std::atomic<uint32_t>& word, uint32_t value) {
    uint32_t seen = word.load(std::memory_order_relaxed);
    while (value > seen && !word.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

// One pass over the block, left and right apart: the loop the compiler can keep in registers
// (and vectorise), since it runs on every block.
void SumChannels(const int16_t* samples, uint32_t count, ChannelSums* sums) {
    static_assert(METER_CHANNELS == 2, "interleaved stereo");
    uint32_t peakLeft = 0, peakRight = 0;
    uint64_t squaresLeft = 0, squaresRight = 0;
    for (uint32_t i = 0; i + 1 < count; i += 2) {
        const int32_t left = samples[i], right = samples[i + 1];
        const uint32_t magnitudeLeft = static_cast<uint32_t>(left < 0 ? -left : left);
        const uint32_t magnitudeRight = static_cast<uint32_t>(right < 0 ? -right : right);
        peakLeft = magnitudeLeft > peakLeft ? magnitudeLeft : peakLeft;
        peakRight = magnitudeRight > peakRight ? magnitudeRight : peakRight;
        squaresLeft += static_cast<uint32_t>(left * left);
        squaresRight += static_cast<uint32_t>(right * right);
    }
    RaiseTo(sums[0].peak, peakLeft);
    RaiseTo(sums[1].peak, peakRight);
    sums[0].squares.fetch_add(squaresLeft, std::memory_order_relaxed);
    sums[1].squares.fetch_add(squaresRight, std::memory_order_relaxed);
}

ChannelLevel TakeChannel(ChannelSums& sums, uint64_t frames) {
    ChannelLevel level;
    level.peak = sums.peak.exchange(0, std::memory_order_relaxed);
    const uint64_t squares = sums.squares.exchange(0, std::memory_order_relaxed);
    level.meanSquare = frames != 0 ? static_cast<double>(squares) / static_cast<double>(frames) /
                                         (FULL_SCALE * FULL_SCALE)
                                   : 0.0;
    return level;
}

// The queue's latest words; the ratio in thousandths of a ppm.
std::atomic<uint32_t> queueHeld{0}, queueTarget{0}, queueCapture{0};
std::atomic<int32_t> queueRatioMilliPpm{0}, queueSkewMilliPpm{0};

int32_t MilliPpm(double ppm) {
    const double clamped = ppm > 1e6 ? 1e6 : ppm < -1e6 ? -1e6 : ppm; // an estimate may run wild
    return static_cast<int32_t>(std::lround(clamped * 1000.0));
}

} // namespace

void MeterQueue(const QueueReading& reading) {
    queueHeld.store(reading.heldFrames, std::memory_order_relaxed);
    queueTarget.store(reading.targetFrames, std::memory_order_relaxed);
    queueRatioMilliPpm.store(MilliPpm(reading.ratioPpm), std::memory_order_relaxed);
    queueSkewMilliPpm.store(MilliPpm(reading.skewPpm), std::memory_order_relaxed);
    queueCapture.store(reading.captureFrames, std::memory_order_release);
}

QueueReading ReadQueueMeter() {
    QueueReading reading;
    reading.captureFrames = queueCapture.load(std::memory_order_acquire);
    reading.heldFrames = queueHeld.load(std::memory_order_relaxed);
    reading.targetFrames = queueTarget.load(std::memory_order_relaxed);
    reading.ratioPpm = queueRatioMilliPpm.load(std::memory_order_relaxed) / 1000.0;
    reading.skewPpm = queueSkewMilliPpm.load(std::memory_order_relaxed) / 1000.0;
    return reading;
}

double ProgramDelayMs(const QueueReading& reading) {
    return (reading.heldFrames + reading.captureFrames) * 1000.0 / SAMPLE_RATE;
}

void MeterBlock(const int16_t* input, const int16_t* output, uint32_t samples) {
    SumChannels(input, samples, inputSums);
    SumChannels(output, samples, outputSums);
    meteredFrames.fetch_add(samples / METER_CHANNELS, std::memory_order_release);
}

void MeterEffect(uint32_t link, uint64_t nanoseconds, uint32_t frames) {
    if (link >= MAX_CHAIN_EFFECTS || frames == 0) {
        return;
    }
    EffectSums& sums = effectSums[link];
    const uint64_t blockNs = static_cast<uint64_t>(frames) * 1000000000ull / SAMPLE_RATE;
    sums.nanoseconds.fetch_add(nanoseconds, std::memory_order_relaxed);
    sums.blockNanoseconds.fetch_add(blockNs, std::memory_order_relaxed);
    const uint64_t perMillion = nanoseconds * 1000000ull / blockNs;
    RaiseTo(sums.worstPerMillion,
            perMillion > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(perMillion));
    sums.blocks.fetch_add(1, std::memory_order_release);
}

MeterReading TakeMeterReading() {
    MeterReading reading;
    reading.frames = meteredFrames.exchange(0, std::memory_order_acquire);
    for (uint32_t c = 0; c < METER_CHANNELS; ++c) {
        reading.input[c] = TakeChannel(inputSums[c], reading.frames);
        reading.output[c] = TakeChannel(outputSums[c], reading.frames);
    }
    for (uint32_t link = 0; link < MAX_CHAIN_EFFECTS; ++link) {
        EffectSums& sums = effectSums[link];
        EffectTime& time = reading.effects[link];
        time.blocks = sums.blocks.exchange(0, std::memory_order_acquire);
        const uint64_t ns = sums.nanoseconds.exchange(0, std::memory_order_relaxed);
        const uint64_t blockNs = sums.blockNanoseconds.exchange(0, std::memory_order_relaxed);
        time.share = blockNs != 0 ? static_cast<double>(ns) / static_cast<double>(blockNs) : 0.0;
        time.worstShare = sums.worstPerMillion.exchange(0, std::memory_order_relaxed) / 1e6;
    }
    return reading;
}

double LevelDb(double amplitude) {
    const double db = amplitude > 0.0 ? 20.0 * std::log10(amplitude) : METER_FLOOR_DB;
    return db > METER_FLOOR_DB ? db : METER_FLOOR_DB;
}
