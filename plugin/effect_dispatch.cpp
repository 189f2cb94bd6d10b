#include "plugin/effect_dispatch.h"

#include "platform/platform.h"
#include "plugin/host_callback.h"
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

VstIntPtr CallDispatcher(PluginHost& host, AEffect* target, int32_t opcode, VstIntPtr value,
                         void* ptr, float opt, int32_t index) {
    if (target == nullptr || target->dispatcher == nullptr || host.fault.load() != 0) {
        return 0;
    }
    DispatchCall call = {target, opcode, index, value, ptr, opt, 0};
    const HostCallScope calling(host);
    const uint32_t fault = GuardedCall(RunDispatch, &call);
    RecordEffectFault(host, fault);
    return fault == 0 ? call.result : 0;
}
