#include "plugin/effect_dispatch.h"

#include "platform/platform.h"
#include "plugin/plugin_host.h"

namespace {

struct DispatchCall {
    AEffect* target;
    int32_t opcode;
    VstIntPtr value;
    void* ptr;
    float opt;
};

void RunDispatch(void* context) {
    const DispatchCall& c = *static_cast<const DispatchCall*>(context);
    c.target->dispatcher(c.target, c.opcode, 0, c.value, c.ptr, c.opt);
}

}  // namespace

void CallDispatcher(AEffect* target, int32_t opcode, VstIntPtr value, void* ptr, float opt) {
    if (target == nullptr || target->dispatcher == nullptr || effectFault.load() != 0) {
        return;
    }
    DispatchCall call = {target, opcode, value, ptr, opt};
    RecordEffectFault(GuardedCall(RunDispatch, &call));
}
