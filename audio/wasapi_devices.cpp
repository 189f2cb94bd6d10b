#include "audio/wasapi_devices.h"

#include <mmdeviceapi.h>
#include <propidl.h>

#include <cwchar>

#include "platform/platform.h"

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

namespace {

void EnumerateEndpointNames(DeviceKind kind, std::vector<std::wstring>& names) {
    ++wasapiEnumerations;
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

} // namespace

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

namespace {

constexpr int MAX_WATCHED = 8; // two per run, and runs being closed
constexpr size_t ENDPOINT_ID_UNITS = 512;

struct Watched {
    wchar_t id[ENDPOINT_ID_UNITS];
    std::atomic<int32_t>* gone; // null: a free place
};

std::atomic<uint32_t> endpointChanges{0};
// The watched endpoints, under their lock: the notification thread and the stream's open and
// close meet only here, so a run is never touched after it stopped watching.
Watched watched[MAX_WATCHED];
PlatformLock watchedLock;

// The system calls it on a thread of its own; it lives as long as the process.
class EndpointNotifications : public IMMNotificationClient {
  public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *object = static_cast<IMMNotificationClient*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
        NoteEndpointState(id, state);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR id) override {
        NoteEndpointState(id, DEVICE_STATE_ACTIVE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
        NoteEndpointState(id, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }
};

EndpointNotifications notifications;
bool notified = false; // registered with the system

// Once per process, on the first thread that asks (the window's).
void StartNotifications() {
    static bool started = false;
    if (started) {
        return;
    }
    started = true;
    LockCreate(&watchedLock);
    EnsureComOnThisThread();
    IMMDeviceEnumerator* enumerator = nullptr;
    if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                   __uuidof(IMMDeviceEnumerator),
                                   reinterpret_cast<void**>(&enumerator)))) {
        // The enumerator is kept: the registration lasts as long as it does.
        notified = SUCCEEDED(enumerator->RegisterEndpointNotificationCallback(&notifications));
    }
}

} // namespace

uint32_t EndpointChangeCount() {
    StartNotifications();
    return endpointChanges.load();
}

wchar_t* EndpointId(IMMDevice* endpoint) {
    wchar_t* id = nullptr;
    if (endpoint == nullptr || FAILED(endpoint->GetId(&id))) {
        return nullptr;
    }
    return id;
}

void NoteEndpointState(const wchar_t* id, DWORD state) {
    StartNotifications();
    endpointChanges.fetch_add(1);
    if (id == nullptr || state == DEVICE_STATE_ACTIVE) {
        return;
    }
    LockEnter(&watchedLock);
    for (Watched& place : watched) {
        if (place.gone != nullptr && std::wcscmp(place.id, id) == 0) {
            place.gone->store(1);
        }
    }
    LockLeave(&watchedLock);
}

bool WatchEndpoint(const wchar_t* id, std::atomic<int32_t>* gone) {
    StartNotifications();
    if (id == nullptr || std::wcslen(id) >= ENDPOINT_ID_UNITS) {
        return false;
    }
    bool placed = false;
    LockEnter(&watchedLock);
    for (Watched& place : watched) {
        if (!placed && place.gone == nullptr) {
            std::wcscpy(place.id, id);
            place.gone = gone;
            placed = true;
        }
    }
    LockLeave(&watchedLock);
    return placed;
}

void UnwatchEndpoints(std::atomic<int32_t>* gone) {
    StartNotifications();
    LockEnter(&watchedLock);
    for (Watched& place : watched) {
        if (place.gone == gone) {
            place.gone = nullptr;
        }
    }
    LockLeave(&watchedLock);
}

namespace {

// Each kind's endpoint names as last enumerated, the change count they were listed at and when.
struct EndpointNames {
    bool listed = false;
    uint32_t changes = 0;
    DWORD tick = 0;
    std::vector<std::wstring> names;
};
// A driver that sends no notice of an endpoint's arrival is still seen, only later.
constexpr DWORD ENDPOINT_NAMES_KEPT_MS = 10000;
EndpointNames endpointNames[2];

} // namespace

uint32_t wasapiEnumerations = 0;

void AppendWasapiEndpointNames(DeviceKind kind, std::vector<std::wstring>& names) {
    // Read before listing: a change that arrives meanwhile leaves the count behind the list's,
    // and the next call lists again.
    const uint32_t changes = EndpointChangeCount();
    EndpointNames& kept = endpointNames[kind == DeviceKind::Capture ? 0 : 1];
    const DWORD now = GetTickCount();
    if (!notified || !kept.listed || kept.changes != changes ||
        now - kept.tick >= ENDPOINT_NAMES_KEPT_MS) {
        kept.names.clear();
        EnumerateEndpointNames(kind, kept.names);
        kept.listed = true;
        kept.changes = changes;
        kept.tick = now;
    }
    names.insert(names.end(), kept.names.begin(), kept.names.end());
}
