#include "audio/stream_devices.h"

#include "audio/wasapi_devices.h"
#include "audio/wave_devices.h"

std::vector<std::wstring> ListStreamDevices(DeviceKind kind) {
    std::vector<std::wstring> names;
    const UINT waveCount = WaveDeviceCount(kind);
    for (UINT id = 0; id < waveCount; ++id) {
        wchar_t name[WAVE_NAME_UNITS];
        if (WaveDeviceName(kind, id, name)) {
            names.emplace_back(name);
        }
    }
    AppendWasapiEndpointNames(kind, names);
    return names;
}
