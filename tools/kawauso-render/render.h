// Runs recorded samples through exactly the engine the live stream uses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/effect_fault.h"

struct RenderOptions {
    int pitchPosition = 0;            // -200..200
    int volumePosition = 0;           // -100..100
    int bufferMs = 50;                // 10..10000
    bool fadeIn = true;               // the fade-in of a stream start
    std::string pluginPath;           // UTF-8; when set, the blocks go through this VST 2 effect
    std::vector<uint8_t> pluginState; // when not empty, given to the effect once it is loaded
    bool isolated = false;   // the effect in a host process even when this process could load it
    bool blockAhead = false; // that host's blocks one block ahead (fx_client.h)
    std::string hostFolder;  // UTF-8; where the host programs are; empty: beside this program
};

// From a fresh engine: cuts the interleaved stereo input into blocks of bufferBytes / 4
// frames (the last may be shorter), runs each through ProcessBlock into the next of eight
// playback buffers as the audio thread does, and fills output with the input's length.
// clippedBlocks counts the blocks in which the stage clipped. With a plug-in path, the effect
// is set up as a load during a running stream would (LoadPlugin, then SetPluginBlockSize for
// the buffer length, under EngineLock), takes the blocks in place of the stage, and is
// unloaded at the end; a kept state is given back to it before it is sized. A DLL of the other
// bitness, or any effect with isolated, runs in a plug-in host process (the same calls, in the
// same order). False, with output untouched, when the plug-in cannot be loaded (refusal says
// why when it was refused unread), its state is refused (then state says why), or the effect
// faulted or its host process failed while loading or in a block: then cause says what
// happened and block is the block's number (counted from 1; 0 while loading).
struct RenderFault {
    EffectFault cause; // kind None: no fault
    size_t block = 0;
    const char* state = nullptr;   // why the kept state was refused, or null
    const char* refusal = nullptr; // why the module was refused before any load, or null
    const char* host = nullptr;    // the host program's file name, when the effect ran in one
};
bool RenderSamples(const std::vector<int16_t>& input, const RenderOptions& options,
                   std::vector<int16_t>& output, uint32_t& clippedBlocks, RenderFault& fault);

// Whether the effect of options runs in a host process (whose every wait has a limit of its
// own) rather than in this one.
bool RenderIsolated(const RenderOptions& options);

// Blocks finished by the render under way, for a caller that watches it from another thread.
extern std::atomic<size_t> renderBlocksDone;
