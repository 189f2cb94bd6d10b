// How devices are named in the lists and the settings: a WinMM device by the name its
// capability record holds (at most 31 units), a WASAPI endpoint by "WASAPI: " and its
// friendly name, which may be longer. A stream finds its devices again by these exact names.
#pragma once

#include <cstdint>
#include <cwchar>

constexpr int32_t DEVICE_NAME_UNITS = 256; // any device's name, the terminator included
constexpr int32_t WAVE_NAME_UNITS = 32;    // a WinMM device's name, the terminator included
constexpr wchar_t WASAPI_NAME_PREFIX[] = L"WASAPI: ";
constexpr size_t WASAPI_NAME_PREFIX_LENGTH = sizeof(WASAPI_NAME_PREFIX) / sizeof(wchar_t) - 1;

enum class DeviceKind { Capture, Playback };

inline bool IsWasapiName(const wchar_t* name) {
    return std::wcsncmp(name, WASAPI_NAME_PREFIX, WASAPI_NAME_PREFIX_LENGTH) == 0;
}
