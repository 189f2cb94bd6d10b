// The capture and playback device lists, by name: WinMM's devices, then the WASAPI endpoints.
#pragma once

#include <windows.h>

#include "audio/stream_devices.h"

struct SettingsSlot;

// Both lists afresh for the slot, item 0 selected: every device's name in device-id order
// (failed queries skipped) and, while the slot awaits its devices (auto-connect on), a saved
// name that no device has exactly, listed last.
void FillDeviceLists(HWND window, const SettingsSlot& slot);

// Selects the item named exactly name, letter case included, as the devices are told apart;
// leaves the selection as it is when there is none. A prefix or caseless match could select
// another device, whose name would then be stored as the slot's.
void SelectDeviceName(HWND combo, const wchar_t* name);

// Rebuilds a combo box from the devices present now, keeping the selection by its text.
void RefreshDeviceList(HWND window, DeviceKind kind);

// True when some capture device is named exactly captureName and some playback device
// exactly playbackName.
bool DevicesPresent(const wchar_t* captureName, const wchar_t* playbackName);

// The device enumeration DevicesPresent calls, once per kind. Device arrival and removal
// cannot be produced for a running program on every system, so tests may put their own here;
// nullptr restores the system's (ListStreamDevices).
using DeviceEnumeration = std::vector<std::wstring> (*)(DeviceKind kind);
void SetDeviceEnumeration(DeviceEnumeration enumeration);
