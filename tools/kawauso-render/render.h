// Runs recorded samples through exactly the engine the live stream uses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/effect_fault.h"

// One effect of the chain the blocks go through, in order.
struct RenderEffect {
    std::string path;           // UTF-8
    std::vector<uint8_t> state; // when not empty, given to the effect once it is loaded
    bool isolated = false;      // in a host process even when this process could load it
};

struct RenderOptions {
    int pitchPosition = 0;  // -200..200
    int volumePosition = 0; // -100..100
    int bufferMs = 50;      // 10..10000
    bool fadeIn = true;     // the fade-in of a stream start
    // When any, the blocks go through these VST 2 effects in place of the stage, in order, at
    // most MAX_CHAIN_EFFECTS.
    std::vector<RenderEffect> effects;
    bool blockAhead = false; // the host processes' blocks one block ahead (fx_client.h)
    std::string hostFolder;  // UTF-8; where the host programs are; empty: beside this program
};

// From a fresh engine: cuts the interleaved stereo input into blocks of bufferBytes / 4
// frames (the last may be shorter), runs each through ProcessBlock into the next of eight
// playback buffers as the audio thread does, and fills output with the input's length.
// clippedBlocks counts the blocks in which the stage clipped. With effects, each is set up in
// turn as a load during a running stream would (LoadPlugin, then SetPluginBlockSize for the
// buffer length, under EngineLock), they take the blocks in place of the stage, in order, and
// are unloaded at the end; a kept state is given back to an effect before it is sized. A DLL
// of the other bitness, or any effect with isolated, runs in a plug-in host process of its own
// (the same calls, in the same order); any other in an in-process host of its own. False, with
// output untouched, when a plug-in cannot be loaded (refusal says why when it was refused
// unread), its state is refused (then state says why), or an effect faulted or its host
// process failed while loading or in a block: then cause says what happened and block is the
// block's number (counted from 1; 0 while loading); effect says which one (from 0).
struct RenderFault {
    size_t effect = 0;
    EffectFault cause; // kind None: no fault
    size_t block = 0;
    const char* state = nullptr;   // why the kept state was refused, or null
    const char* refusal = nullptr; // why the module was refused before any load, or null
    const char* host = nullptr;    // the host program's file name, when the effect ran in one
};
bool RenderSamples(const std::vector<int16_t>& input, const RenderOptions& options,
                   std::vector<int16_t>& output, uint32_t& clippedBlocks, RenderFault& fault);

// Whether the effect runs in a host process (whose every wait has a limit of its own) rather
// than in this one.
bool RenderEffectIsolated(const RenderEffect& effect);
// Whether every effect of options does, none in this process.
bool RenderIsolated(const RenderOptions& options);

// Blocks finished by the render under way, for a caller that watches it from another thread.
extern std::atomic<size_t> renderBlocksDone;
