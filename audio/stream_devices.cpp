#include "audio/stream_devices.h"

#include <cwchar>

#include "audio/wasapi_devices.h"
#include "audio/wave_devices.h"

UINT StreamDeviceCount(DeviceKind kind) {
    return WaveDeviceCount(kind) + WasapiEndpointCount(kind);
}

bool StreamDeviceName(DeviceKind kind, UINT index, wchar_t (&name)[DEVICE_NAME_UNITS]) {
    const UINT waveCount = WaveDeviceCount(kind);
    if (index >= waveCount) {
        return WasapiEndpointName(kind, index - waveCount, name);
    }
    wchar_t waveName[WAVE_NAME_UNITS];
    if (!WaveDeviceName(kind, index, waveName)) {
        return false;
    }
    std::wcscpy(name, waveName);
    return true;
}
