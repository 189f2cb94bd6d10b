// The caller's side of one plug-in host process: starts it, makes calls through the shared
// transport and waits for each answer with a limit. On a limit, or when the process ends,
// the call fails with the cause (fault), the process is ended for good and no later call
// waits on it. Calls from one thread at a time; a block call allocates nothing, takes no lock
// and makes no system call but the two wake-ups.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/child_process.h"
#include "platform/shared_memory.h"
#include "platform/wake_up.h"
#include "plugin/effect_fault.h"
#include "plugin/fx_transport.h"

struct FxLimits {
    uint32_t startMs = 10000; // the process's start and the effect's load
    uint32_t callMs = 5000;   // a control call
    uint32_t blockMs = 2000;  // a block: the caller's hang limit
};

struct FxClient {
    ChildProcess process;
    SharedMemory memory;
    WakeUp toHost, toCaller;
    FxShared* shared = nullptr;
    FxLimits limits;
    uint32_t sequence = 0;
    EffectFault fault;
    char name[64] = "";
};

// Starts hostProgram for a transport of its own and waits for it to answer. False, with fault
// set and nothing left running, when it does not.
bool FxStart(FxClient* client, const char* hostProgram, const FxLimits& limits);
// Sends the call written into client->shared->call and waits up to limitMs for its answer.
// False when there was none (fault says why; the process is gone) or a fault was there before.
bool FxExchange(FxClient* client, uint32_t limitMs);
// Bytes into the host's staged bytes, in pieces; from them, up to FX_MAX_STAGED_BYTES.
bool FxPutStaged(FxClient* client, const uint8_t* bytes, uint32_t size);
bool FxTakeStaged(FxClient* client, uint32_t size, std::vector<uint8_t>& bytes);
// Asks the host to end (within the call limit), ends it if it does not, releases everything.
void FxStop(FxClient* client);
