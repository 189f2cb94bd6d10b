#include "audio/wasapi_devices.h"

#include <mmdeviceapi.h>
#include <propidl.h>

#include <cwchar>

namespace {

// The endpoint's friendly name, as the system's sound settings show it.
const PROPERTYKEY FRIENDLY_NAME_KEY = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

template <typename T> void Release(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

IMMDeviceCollection* ActiveEndpoints(DeviceKind kind) {
    EnsureComOnThisThread();
    IMMDeviceEnumerator* enumerator = nullptr;
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(&enumerator)))) {
        return nullptr; // no WASAPI here: the lists hold WinMM's devices only
    }
    IMMDeviceCollection* endpoints = nullptr;
    if (FAILED(enumerator->EnumAudioEndpoints(kind == DeviceKind::Capture ? eCapture : eRender,
                                              DEVICE_STATE_ACTIVE, &endpoints))) {
        endpoints = nullptr;
    }
    Release(enumerator);
    return endpoints;
}

bool ListedName(IMMDevice* endpoint, wchar_t (&name)[DEVICE_NAME_UNITS]) {
    IPropertyStore* properties = nullptr;
    if (FAILED(endpoint->OpenPropertyStore(STGM_READ, &properties))) {
        return false;
    }
    PROPVARIANT value;
    PropVariantInit(&value);
    bool ok = SUCCEEDED(properties->GetValue(FRIENDLY_NAME_KEY, &value)) && value.vt == VT_LPWSTR &&
              value.pwszVal != nullptr &&
              std::wcslen(value.pwszVal) + WASAPI_NAME_PREFIX_LENGTH < DEVICE_NAME_UNITS;
    if (ok) {
        std::wcscpy(name, WASAPI_NAME_PREFIX);
        std::wcscat(name, value.pwszVal);
    }
    PropVariantClear(&value);
    Release(properties);
    return ok;
}

} // namespace

void EnsureComOnThisThread() {
    static thread_local bool ready = false;
    if (!ready) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); // S_FALSE and a chosen MTA do too
        ready = true;
    }
}

void AppendWasapiEndpointNames(DeviceKind kind, std::vector<std::wstring>& names) {
    IMMDeviceCollection* endpoints = ActiveEndpoints(kind);
    UINT count = 0;
    if (endpoints == nullptr || FAILED(endpoints->GetCount(&count))) {
        count = 0;
    }
    for (UINT i = 0; i < count; ++i) {
        IMMDevice* endpoint = nullptr;
        wchar_t name[DEVICE_NAME_UNITS];
        if (SUCCEEDED(endpoints->Item(i, &endpoint)) && ListedName(endpoint, name)) {
            names.emplace_back(name);
        }
        Release(endpoint);
    }
    Release(endpoints);
}

IMMDevice* FindWasapiEndpoint(DeviceKind kind, const wchar_t* name) {
    if (!IsWasapiName(name)) {
        return nullptr;
    }
    IMMDeviceCollection* endpoints = ActiveEndpoints(kind);
    UINT count = 0;
    if (endpoints == nullptr || FAILED(endpoints->GetCount(&count))) {
        count = 0;
    }
    IMMDevice* found = nullptr;
    for (UINT i = 0; i < count && found == nullptr; ++i) {
        IMMDevice* endpoint = nullptr;
        wchar_t listed[DEVICE_NAME_UNITS];
        if (SUCCEEDED(endpoints->Item(i, &endpoint)) && ListedName(endpoint, listed) &&
            std::wcscmp(listed, name) == 0) {
            found = endpoint;
            endpoint = nullptr;
        }
        Release(endpoint);
    }
    Release(endpoints);
    return found;
}
