// The capture and playback device lists, by name, as WinMM reports them.
#pragma once

#include <windows.h>

constexpr int DEVICE_NAME_UNITS = 32;  // a device name and its terminator

enum class DeviceKind { Capture, Playback };

// Adds every device's name to the combo box in device-id order (failed queries skipped);
// with addSaved, also adds savedName at the end when no device has exactly that name.
void FillDeviceList(HWND combo, DeviceKind kind, const wchar_t* savedName, bool addSaved);

// Rebuilds a combo box from the devices present now, keeping the selection by its text.
void RefreshDeviceList(HWND window, DeviceKind kind);

// True when some capture device is named exactly captureName and some playback device
// exactly playbackName.
bool DevicesPresent(const wchar_t* captureName, const wchar_t* playbackName);

// The device enumeration DevicesPresent calls. Device arrival and removal cannot be produced
// for a running program on every system, so tests may put their own enumeration here;
// nullptr restores WinMM.
struct DeviceEnumeration {
    UINT (*count)(DeviceKind kind);
    bool (*name)(DeviceKind kind, UINT id, wchar_t (&name)[DEVICE_NAME_UNITS]);
};
void SetDeviceEnumeration(const DeviceEnumeration* enumeration);

// The real enumeration: WinMM's device counts and capability records.
const DeviceEnumeration& WinMMEnumeration();
