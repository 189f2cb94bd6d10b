// Every device a stream can open, as the lists show them: WinMM's devices in id order, then
// the active WASAPI endpoints. Indices mean nothing beyond the moment; names are what last.
#pragma once

#include <windows.h>

#include "audio/device_names.h"

UINT StreamDeviceCount(DeviceKind kind);

// The name of the device at index now; false when it cannot be read.
bool StreamDeviceName(DeviceKind kind, UINT index, wchar_t (&name)[DEVICE_NAME_UNITS]);
