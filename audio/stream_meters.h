// What the blocks tell about the sound, for whoever shows it (the monitor window, the renderer's
// statistics): each channel's peak and mean square at the input and the output, and the time
// each effect of the chain took of its blocks. The audio thread writes after each block; a
// reader takes what gathered since its last take. No lock, no allocation, no system call on the
// block path: atomics only, one writer.
#pragma once

#include <cstdint>

#include "audio/block_processing.h"

constexpr uint32_t METER_CHANNELS = 2;

struct ChannelLevel {
    uint32_t peak = 0;       // the largest magnitude, 0..32768
    double meanSquare = 0.0; // of the samples, full scale 1
};

struct EffectTime {
    uint32_t blocks = 0;     // the effect was called for
    double share = 0.0;      // of those blocks' own time, on average
    double worstShare = 0.0; // of one block's, at most
};

struct MeterReading {
    uint64_t frames = 0; // gathered since the last take
    ChannelLevel input[METER_CHANNELS];
    ChannelLevel output[METER_CHANNELS];
    EffectTime effects[MAX_CHAIN_EFFECTS]; // by the chain's link index
};

// Audio thread, after each block: its levels (interleaved stereo 16-bit, samples in all).
void MeterBlock(const int16_t* input, const int16_t* output, uint32_t samples);
// Audio thread: the chain's link index took nanoseconds of a block of frames.
void MeterEffect(uint32_t link, uint64_t nanoseconds, uint32_t frames);

// Any thread (one reader at a time): what gathered since the last take, and a fresh start.
MeterReading TakeMeterReading();

// The playback side at a write, as the stream's own queue saw it: the frames on their way to
// the ear (the device's and the queue's), the queue's target, the drift corrector's ratio, and
// the block just captured. Audio thread, after each write; the latest one read by anyone.
struct QueueReading {
    uint32_t heldFrames = 0;
    uint32_t targetFrames = 0;
    double skewPpm = 0.0;       // the corrector's estimate of how much faster capture runs
    double ratioPpm = 0.0;      // the ratio it resamples by (0 while it leaves the sound alone)
    uint32_t captureFrames = 0; // 0: no stream has written yet
};
void MeterQueue(const QueueReading& reading);
QueueReading ReadQueueMeter();
// The program's own part of the delay from the microphone to the speaker, in ms: the captured
// block and what is on its way at the write.
double ProgramDelayMs(const QueueReading& reading);

// dBFS of a level (full scale 1); at or below the floor, the floor.
constexpr double METER_FLOOR_DB = -120.0;
double LevelDb(double amplitude);
