#include "audio/wave_devices.h"
#include "audio/winmm.h"

#include <mmsystem.h>
#include <cwchar>

UINT WaveDeviceCount(DeviceKind kind) {
    if (!WinmmPresent()) {
        return 0;
    }
    return kind == DeviceKind::Capture ? Winmm().waveInGetNumDevs() : Winmm().waveOutGetNumDevs();
}

bool WaveDeviceName(DeviceKind kind, UINT id, wchar_t (&name)[WAVE_NAME_UNITS]) {
    if (kind == DeviceKind::Capture) {
        WAVEINCAPSW caps;
        if (Winmm().waveInGetDevCapsW(id, &caps, sizeof caps) != MMSYSERR_NOERROR) {
            return false;
        }
        std::wcsncpy(name, caps.szPname, WAVE_NAME_UNITS - 1);
    } else {
        WAVEOUTCAPSW caps;
        if (Winmm().waveOutGetDevCapsW(id, &caps, sizeof caps) != MMSYSERR_NOERROR) {
            return false;
        }
        std::wcsncpy(name, caps.szPname, WAVE_NAME_UNITS - 1);
    }
    name[WAVE_NAME_UNITS - 1] = L'\0';
    return true;
}

bool FindWaveDevice(DeviceKind kind, const wchar_t* name, UINT* id) {
    const UINT count = WaveDeviceCount(kind);
    for (UINT candidate = 0; candidate < count; ++candidate) {
        wchar_t candidateName[WAVE_NAME_UNITS];
        if (WaveDeviceName(kind, candidate, candidateName) &&
            std::wcscmp(candidateName, name) == 0) {
            *id = candidate;
            return true;
        }
    }
    return false;
}
