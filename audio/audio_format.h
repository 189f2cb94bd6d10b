// The one stream format the program runs on, and the constants derived from it.
#pragma once

#include <cstdint>

constexpr uint32_t SAMPLE_RATE = 44100;        // frames per second
constexpr uint16_t CHANNEL_COUNT = 2;          // interleaved left, right
constexpr uint16_t BITS_PER_SAMPLE = 16;       // signed little-endian
constexpr uint16_t BLOCK_ALIGN = 4;            // bytes per frame
constexpr uint32_t AVG_BYTES_PER_SEC = 176400; // SAMPLE_RATE * BLOCK_ALIGN
constexpr int BUFFER_COUNT = 8;                // capture buffers, and playback buffers

constexpr int32_t FADE_IN_FRAMES = 44100; // 1 s at every start
constexpr int32_t FADE_OUT_FRAMES = 4410; // 0.1 s at every stop request

constexpr int32_t MIN_BUFFER_MS = 10;
constexpr int32_t MAX_BUFFER_MS = 10000;
// The frames of the longest block: a buffer of MAX_BUFFER_MS, as BufferBytesForMs rounds it.
constexpr uint32_t MAX_BLOCK_FRAMES = 441001;

// Bytes of one capture or playback buffer for a buffer length in milliseconds (10..10000):
// the next multiple of BLOCK_ALIGN strictly above ms * AVG_BYTES_PER_SEC / 1000, so even an
// exact multiple gains a whole frame (50 ms gives 8824 bytes).
inline uint32_t BufferBytesForMs(int32_t ms) {
    uint32_t bytes = static_cast<uint32_t>(static_cast<double>(ms) * AVG_BYTES_PER_SEC / 1000.0);
    return bytes + BLOCK_ALIGN - (bytes % BLOCK_ALIGN);
}

// Frames per plug-in block for a buffer size, divided as the format fields are.
inline uint32_t FramesForBufferBytes(uint32_t bytes) {
    return bytes / CHANNEL_COUNT / (BITS_PER_SAMPLE / 8);
}
