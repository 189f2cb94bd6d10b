// Runs recorded samples through exactly the engine the live stream uses.
#pragma once

#include <cstdint>
#include <vector>

struct RenderOptions {
    int pitchPosition = 0;   // -200..200
    int volumePosition = 0;  // -100..100
    int bufferMs = 50;       // 10..10000
    bool fadeIn = true;      // the fade-in of a stream start
};

// From a fresh engine: cuts the interleaved stereo input into blocks of bufferBytes / 4
// frames (the last may be shorter), runs each through ProcessBlock into the next of eight
// playback buffers as the audio thread does, and returns the output with the input's length.
// clippedBlocks counts the blocks in which the stage clipped.
std::vector<int16_t> RenderSamples(const std::vector<int16_t>& input, const RenderOptions& options,
                                   uint32_t& clippedBlocks);
