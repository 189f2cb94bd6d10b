// The active WASAPI endpoints, named as the lists show them: "WASAPI: " and the endpoint's
// friendly name. Like WinMM ids, an endpoint's position means nothing from one moment to the
// next, so a stream finds its endpoint by that name each time it opens. Any thread; each call
// enumerates afresh.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "audio/device_names.h"

struct IMMDevice;

// Appends the listed name of every active endpoint, from one enumeration; an endpoint whose
// name cannot be read or would not fit is left out.
void AppendWasapiEndpointNames(DeviceKind kind, std::vector<std::wstring>& names);

// The endpoint listed exactly as name (with its prefix), or null. The caller releases it.
IMMDevice* FindWasapiEndpoint(DeviceKind kind, const wchar_t* name);

// Makes COM usable on the calling thread (once per thread; an apartment already chosen stays).
void EnsureComOnThisThread();
