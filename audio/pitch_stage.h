// The built-in pitch and volume stage: a per-channel ring written at rate 1 and read back at
// pitchRatio with linear interpolation, times gain, saturated to 16 bits, delayed by 32
// samples, with a 64-sample crossfade wherever the reader passes the writer.
#pragma once

#include <cstdint>

constexpr int RING_LENGTH = 882;      // 20 ms per channel
constexpr int HISTORY_LENGTH = 64;
constexpr int HISTORY_DELAY = 32;
constexpr int CROSSFADE_STEPS = 64;
constexpr double CROSSFADE_WEIGHT_STEP = 0.03125;  // 1/32 per unit of distance

struct PitchChannel {
    int16_t ring[RING_LENGTH];
    int32_t writePos;        // 0..881, where the next input goes
    double readPos;          // 0 <= readPos < 882
    int16_t history[HISTORY_LENGTH];
    int32_t historyPos;      // 0..63, where the next result goes
    int32_t crossfadeLeft;   // 0..64
};

// One sample through the stage for channel 0 (left) or 1 (right). Audio thread only, with
// EngineLock held; reads gain and pitchRatio, may set clipFlag.
int16_t ProcessSample(int16_t sample, int channel);

// The same as ProcessSample for every sample of an interleaved block, in buffer order
// (channel = index & 1), with identical results; gain and pitchRatio are read once.
void ProcessStageBlock(const int16_t* input, int16_t* output, uint32_t samples);
