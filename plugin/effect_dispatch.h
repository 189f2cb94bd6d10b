// The one way the host calls an effect's dispatcher.
#pragma once

#include "plugin/vst2.h"

// dispatcher(target, opcode, 0, value, ptr, opt) with the result ignored, as every call the
// host makes, inside a guarded call: a fault is recorded (RecordEffectFault) and from then on
// no effect is called any more. A record without a dispatcher is skipped rather than called
// through null: the record comes from an outside DLL.
void CallDispatcher(AEffect* target, int32_t opcode, VstIntPtr value, void* ptr, float opt);
