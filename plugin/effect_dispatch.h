// The one way the host calls an effect's dispatcher.
#pragma once

#include "plugin/vst2.h"

// dispatcher(target, opcode, index, value, ptr, opt) inside a guarded call: a fault is
// recorded (RecordEffectFault) and from then on no effect is called any more. A record without
// a dispatcher is skipped rather than called through null: the record comes from an outside
// DLL. Returns the dispatcher's result, 0 when it was not called or faulted; most calls the
// host makes ignore it.
VstIntPtr CallDispatcher(AEffect* target, int32_t opcode, VstIntPtr value, void* ptr, float opt,
                         int32_t index = 0);
