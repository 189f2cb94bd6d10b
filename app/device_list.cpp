#include "app/device_list.h"

#include <mmsystem.h>
#include <cwchar>
#include <vector>

#include "res/resource.h"

namespace {

UINT WinMMCount(DeviceKind kind) {
    return kind == DeviceKind::Capture ? waveInGetNumDevs() : waveOutGetNumDevs();
}

bool WinMMName(DeviceKind kind, UINT id, wchar_t (&name)[DEVICE_NAME_UNITS]) {
    if (kind == DeviceKind::Capture) {
        WAVEINCAPSW caps;
        if (waveInGetDevCapsW(id, &caps, sizeof caps) != MMSYSERR_NOERROR) {
            return false;
        }
        wcsncpy(name, caps.szPname, DEVICE_NAME_UNITS - 1);
    } else {
        WAVEOUTCAPSW caps;
        if (waveOutGetDevCapsW(id, &caps, sizeof caps) != MMSYSERR_NOERROR) {
            return false;
        }
        wcsncpy(name, caps.szPname, DEVICE_NAME_UNITS - 1);
    }
    name[DEVICE_NAME_UNITS - 1] = L'\0';
    return true;
}

const DeviceEnumeration WINMM_ENUMERATION = {WinMMCount, WinMMName};
const DeviceEnumeration* watcherEnumeration = &WINMM_ENUMERATION;

void AddName(HWND combo, const wchar_t* name) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
}

bool Present(const DeviceEnumeration& e, DeviceKind kind, const wchar_t* wanted) {
    bool found = false;
    UINT count = e.count(kind);
    for (UINT id = 0; id < count; ++id) {  // every device is queried, no early exit
        wchar_t name[DEVICE_NAME_UNITS];
        if (e.name(kind, id, name) && std::wcscmp(name, wanted) == 0) {
            found = true;
        }
    }
    return found;
}

}  // namespace

void FillDeviceList(HWND combo, DeviceKind kind, const wchar_t* savedName, bool addSaved) {
    bool found = !addSaved;
    UINT count = WinMMCount(kind);
    for (UINT id = 0; id < count; ++id) {
        wchar_t name[DEVICE_NAME_UNITS];
        if (!WinMMName(kind, id, name)) {
            continue;
        }
        AddName(combo, name);
        if (std::wcscmp(name, savedName) == 0) {
            found = true;
        }
    }
    if (!found) {
        AddName(combo, savedName);
    }
}

void RefreshDeviceList(HWND window, DeviceKind kind) {
    HWND combo = GetDlgItem(window, kind == DeviceKind::Capture ? IDC_WAVEIN : IDC_WAVEOUT);
    std::vector<wchar_t> remembered;
    LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (selected != CB_ERR) {
        LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
        if (length != CB_ERR) {
            remembered.assign(static_cast<size_t>(length) + 1, L'\0');
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                         reinterpret_cast<LPARAM>(remembered.data()));
        }
    }
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    UINT count = WinMMCount(kind);
    for (UINT id = 0; id < count; ++id) {
        wchar_t name[DEVICE_NAME_UNITS];
        if (WinMMName(kind, id, name)) {
            AddName(combo, name);
        }
    }
    if (!remembered.empty()) {
        SendMessageW(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(remembered.data()));
    }
}

bool DevicesPresent(const wchar_t* captureName, const wchar_t* playbackName) {
    bool capture = Present(*watcherEnumeration, DeviceKind::Capture, captureName);
    bool playback = Present(*watcherEnumeration, DeviceKind::Playback, playbackName);
    return capture && playback;
}

const DeviceEnumeration& WinMMEnumeration() { return WINMM_ENUMERATION; }

void SetDeviceEnumeration(const DeviceEnumeration* enumeration) {
    watcherEnumeration = enumeration != nullptr ? enumeration : &WINMM_ENUMERATION;
}
