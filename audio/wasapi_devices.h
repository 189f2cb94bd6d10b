// The active WASAPI endpoints, named as the lists show them: "WASAPI: " and the endpoint's
// friendly name. Like WinMM ids, an endpoint's position means nothing from one moment to the
// next, so a stream finds its endpoint by that name each time it opens. Any thread; each call
// enumerates afresh.
#pragma once

#include <windows.h>

#include "audio/device_names.h"

struct IMMDevice;

UINT WasapiEndpointCount(DeviceKind kind);

// The listed name of the endpoint at index now; false when it cannot be read or would not fit.
bool WasapiEndpointName(DeviceKind kind, UINT index, wchar_t (&name)[DEVICE_NAME_UNITS]);

// The endpoint listed exactly as name (with its prefix), or null. The caller releases it.
IMMDevice* FindWasapiEndpoint(DeviceKind kind, const wchar_t* name);

// Makes COM usable on the calling thread (once per thread; an apartment already chosen stays).
void EnsureComOnThisThread();
