// The host process's side of the transport: answers its caller's calls, one at a time on each
// lane, with the same host code the program uses in-process (load, dispatcher, guard, bridge,
// state).
#pragma once

#include <cstdint>

#include "platform/wake_up.h"
#include "plugin/fx_transport.h"

struct FxWakeUps {
    WakeUp controlToHost, controlToCaller, blockToHost, blockToCaller;
};

// Answers calls until the caller asks the host to end (then true) or the transport's start
// does not check out (false): blocks on a thread of their own, control calls and the effect's
// editor on this one. The caller's end ends this process (EndWithCaller).
bool ServeCalls(FxShared* shared, FxWakeUps* wakes);
