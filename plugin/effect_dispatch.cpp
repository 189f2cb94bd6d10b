#include "plugin/effect_dispatch.h"

#include "platform/platform.h"
#include "plugin/plugin_host.h"

namespace {

struct DispatchCall {
    AEffect* target;
    int32_t opcode;
    int32_t index;
    VstIntPtr value;
    void* ptr;
    float opt;
    VstIntPtr result;
};

void RunDispatch(void* context) {
    DispatchCall& c = *static_cast<DispatchCall*>(context);
    c.result = c.target->dispatcher(c.target, c.opcode, c.index, c.value, c.ptr, c.opt);
}

} // namespace

VstIntPtr CallDispatcher(AEffect* target, int32_t opcode, VstIntPtr value, void* ptr, float opt,
                         int32_t index) {
    if (target == nullptr || target->dispatcher == nullptr || effectFault.load() != 0) {
        return 0;
    }
    DispatchCall call = {target, opcode, index, value, ptr, opt, 0};
    const uint32_t fault = GuardedCall(RunDispatch, &call);
    RecordEffectFault(fault);
    return fault == 0 ? call.result : 0;
}
