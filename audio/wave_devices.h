// The WinMM devices by name: a device's id is only its position in the system's list at this
// moment, so a stream finds its devices by their names each time it opens them.
#pragma once

#include <windows.h>

#include "audio/device_names.h"

UINT WaveDeviceCount(DeviceKind kind);

// The name of device id; false when its capabilities cannot be read.
bool WaveDeviceName(DeviceKind kind, UINT id, wchar_t (&name)[WAVE_NAME_UNITS]);

// The id of the device named exactly name now; false when there is none.
bool FindWaveDevice(DeviceKind kind, const wchar_t* name, UINT* id);
