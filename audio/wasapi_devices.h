// The active WASAPI endpoints, named as the lists show them: "WASAPI: " and the endpoint's
// friendly name. Like WinMM ids, an endpoint's position means nothing from one moment to the
// next, so a stream finds its endpoint by that name each time it opens. Any thread; each call
// enumerates afresh: the change count below says when that is worth doing.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/device_names.h"

struct IMMDevice;

// Appends the listed name of every active endpoint, from one enumeration; an endpoint whose
// name cannot be read or would not fit is left out.
// While the system's endpoint notifications run, the names come from the last enumeration until
// an endpoint changes or 10 s have passed (so a watcher asking every second enumerates after a
// change, and otherwise seldom); where none are sent, every call enumerates. User-interface
// thread.
void AppendWasapiEndpointNames(DeviceKind kind, std::vector<std::wstring>& names);
// How many times the endpoints have been enumerated for names, for tests.
extern uint32_t wasapiEnumerations;

// The endpoint listed exactly as name (with its prefix), or null. The caller releases it.
IMMDevice* FindWasapiEndpoint(DeviceKind kind, const wchar_t* name);

// Makes COM usable on the calling thread (once per thread; an apartment already chosen stays).
void EnsureComOnThisThread();

// The system's endpoint notifications, from the first call of any function below on: an
// endpoint added, removed or changing state moves a change count, so a watcher enumerates only
// when something changed; an endpoint a running stream watches sets that stream's word at once
// when it is removed or stops being active. Any thread.
uint32_t EndpointChangeCount();

// The endpoint's id (CoTaskMemFree it), or null.
wchar_t* EndpointId(IMMDevice* endpoint);

// Sets *gone to 1 (at once, from the system's notification thread) when the endpoint id is
// removed or stops being active, until UnwatchEndpoints(gone). False when there is no room;
// the stream then notices by its stall limit, as it does where the system sends nothing.
bool WatchEndpoint(const wchar_t* id, std::atomic<int32_t>* gone);
void UnwatchEndpoints(std::atomic<int32_t>* gone);

// What a notification does: the endpoint id is now in state (DEVICE_STATE_*; 0 when removed).
// The notifications call it, and tests stand in for a device unplugged through it.
void NoteEndpointState(const wchar_t* id, DWORD state);
