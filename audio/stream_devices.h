// Every device a stream can open, as the lists show them: WinMM's devices in id order, then
// the active WASAPI endpoints. Positions mean nothing beyond the moment; names are what last.
#pragma once

#include <string>
#include <vector>

#include "audio/device_names.h"

// The names of the devices of that kind present now, one pass over each system; a device
// whose name cannot be read is left out.
std::vector<std::wstring> ListStreamDevices(DeviceKind kind);
