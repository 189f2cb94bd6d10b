// One set of user settings: devices, sliders, buffer length, plug-in, switches and the main
// window's position. Eight of them live in the settings store.
#pragma once

#include <cstdint>

#include "audio/device_names.h"

constexpr int32_t SLOT_COUNT = 8;

// Field sizes in UTF-16 units, the terminator included.
constexpr int32_t BUFFER_SIZE_UNITS = 8;    // the buffer-length text, in milliseconds
constexpr int32_t VST_PATH_UNITS = 261;     // the plug-in path field
constexpr int32_t VST_PATH_MAX_UNITS = 260; // what every writer of the plug-in path stores at most

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
    int32_t DlgPosX;
    int32_t DlgPosY;
};
