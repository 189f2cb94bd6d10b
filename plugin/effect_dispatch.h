// The one way the host calls an effect's dispatcher.
#pragma once

#include "plugin/vst2.h"

// dispatcher(target, opcode, index, value, ptr, opt) inside a guarded call: a fault is
// recorded as host's (RecordEffectFault) and from then on host's effect is not called any more
// (target is host's effect, or the record that asked host a question while it was entered). A
// record without a dispatcher is skipped rather than called through null: the record comes from an
// outside DLL. Returns the dispatcher's result, 0 when it was not called or faulted; most calls the
// host makes ignore it.
struct PluginHost;
VstIntPtr CallDispatcher(PluginHost& host, AEffect* target, int32_t opcode, VstIntPtr value,
                         void* ptr, float opt, int32_t index = 0);
