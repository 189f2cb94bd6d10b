// One set of user settings: devices, sliders, buffer length, plug-in, switches and the main
// window's position. Eight of them live in the settings store.
#pragma once

#include <cstdint>

#include "audio/block_processing.h"
#include "audio/device_names.h"

constexpr int32_t SLOT_COUNT = 8;

// Field sizes in UTF-16 units, the terminator included.
constexpr int32_t BUFFER_SIZE_UNITS = 8;    // the buffer-length text, in milliseconds
constexpr int32_t VST_PATH_UNITS = 261;     // the plug-in path field
constexpr int32_t VST_PATH_MAX_UNITS = 260; // what every writer of the plug-in path stores at most

// The effects after the first of a slot's chain, in order (the first is the slot's VstPath).
constexpr int32_t CHAINED_EFFECTS = static_cast<int32_t>(MAX_CHAIN_EFFECTS) - 1;
struct ChainedEffect {
    wchar_t VstPath[VST_PATH_UNITS]; // "" for none: the chain ends before the first empty one
    bool VstIsolated;                // in a host process of its own from the next load on
    bool VstBypassed;                // loaded, and the blocks go past it
};

struct SettingsSlot {
    wchar_t WaveInCapsName[DEVICE_NAME_UNITS];
    wchar_t WaveOutCapsName[DEVICE_NAME_UNITS];
    int32_t Volume;    // volume slider position, -100..100 once applied to the slider
    int32_t FreqRatio; // pitch slider position, -200..200 once applied to the slider
    wchar_t BufferSize[BUFFER_SIZE_UNITS];
    wchar_t VstPath[VST_PATH_UNITS];
    bool AutoRestart;
    bool ShowDetail;
    bool VstActive;     // the plug-in at VstPath was loaded and on when the program last closed
    bool VstEditorOpen; // and its editor was open
    bool VstIsolated;   // its effect runs in a host process of its own from the next load on
    bool VstBypassed;   // its effect is loaded and the blocks go past it
    ChainedEffect Chained[CHAINED_EFFECTS];
    int32_t DlgPosX;
    int32_t DlgPosY;
};
