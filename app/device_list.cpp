#include "app/device_list.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "res/resource.h"
#include "settings/settings_slot.h"

namespace {

DeviceEnumeration watcherEnumeration = ListStreamDevices;

HWND ListOf(HWND window, DeviceKind kind) {
    return GetDlgItem(window, kind == DeviceKind::Capture ? IDC_WAVEIN : IDC_WAVEOUT);
}

void AddName(HWND combo, const wchar_t* name) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
}

bool Present(DeviceKind kind, const wchar_t* wanted) {
    const std::vector<std::wstring> names = watcherEnumeration(kind);
    return std::find(names.begin(), names.end(), wanted) != names.end();
}

void FillDeviceList(HWND window, DeviceKind kind, const wchar_t* savedName, bool addSaved) {
    HWND combo = ListOf(window, kind);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    bool found = !addSaved;
    for (const std::wstring& name : ListStreamDevices(kind)) {
        AddName(combo, name.c_str());
        found = found || name == savedName;
    }
    if (!found) {
        AddName(combo, savedName);
    }
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

} // namespace

void FillDeviceLists(HWND window, const SettingsSlot& slot) {
    FillDeviceList(window, DeviceKind::Capture, slot.WaveInCapsName, slot.AutoRestart);
    FillDeviceList(window, DeviceKind::Playback, slot.WaveOutCapsName, slot.AutoRestart);
}

void SelectDeviceName(HWND combo, const wchar_t* name) {
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0 || length >= DEVICE_NAME_UNITS) {
            continue; // not a device's name
        }
        wchar_t item[DEVICE_NAME_UNITS] = L"";
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        if (std::wcscmp(item, name) == 0) {
            SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            return;
        }
    }
}

void RefreshDeviceList(HWND window, DeviceKind kind) {
    HWND combo = ListOf(window, kind);
    if (!IsWindowEnabled(combo)) {
        // Disabled, it shows the names in use or awaited, which may be absent. Disabling the
        // list while it has the focus (a slot change by the mouse wheel) takes the focus away,
        // and that notification must not rebuild it.
        return;
    }
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
    for (const std::wstring& name : ListStreamDevices(kind)) {
        AddName(combo, name.c_str());
    }
    if (!remembered.empty()) {
        // The same device only: another whose name begins alike, or differs in case, would be
        // stored as the slot's.
        SelectDeviceName(combo, remembered.data());
    }
}

bool DevicesPresent(const wchar_t* captureName, const wchar_t* playbackName) {
    const bool capture = Present(DeviceKind::Capture, captureName);
    const bool playback = Present(DeviceKind::Playback, playbackName);
    return capture && playback;
}

void SetDeviceEnumeration(DeviceEnumeration enumeration) {
    watcherEnumeration = enumeration != nullptr ? enumeration : ListStreamDevices;
}
