#include "plugin/effect_dispatch.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"

namespace {

struct InProcessEffect : EffectHandle {
    PluginHost host;
};

PluginHost& HostOf(EffectHandle* self) {
    return static_cast<InProcessEffect*>(self)->host;
}

bool Load(EffectHandle* self, const wchar_t* path, int32_t sampleRate) {
    const EffectCallScope scope(self);
    return LoadPlugin(HostOf(self), path, sampleRate);
}

StateRestore Restore(EffectHandle* self, const std::vector<uint8_t>& state) {
    const EffectCallScope scope(self);
    return RestoreEffectState(HostOf(self), state);
}

bool Capture(EffectHandle* self, std::vector<uint8_t>& state) {
    const EffectCallScope scope(self);
    return CaptureEffectState(HostOf(self), state);
}

void SetBlockSize(EffectHandle* self, uint32_t frames) {
    const EffectCallScope scope(self);
    SetPluginBlockSize(HostOf(self), frames);
}

bool Process(EffectHandle* self, const float* input, float* output, uint32_t frames) {
    return ProcessWithPlugin(HostOf(self), input, output, frames);
}

VstIntPtr Dispatch(EffectHandle* self, int32_t opcode, int32_t index, VstIntPtr value, void* ptr,
                   float opt) {
    const EffectCallScope scope(self);
    PluginHost& host = HostOf(self);
    return CallDispatcher(host, host.effect, opcode, value, ptr, opt, index);
}

// The window is the host's from before the effect makes its own in it: it may ask for a size
// while it does.
bool OpenEditor(EffectHandle* self, void* parent, ERect* size) {
    const EffectCallScope scope(self);
    PluginHost& host = HostOf(self);
    if (host.effect == nullptr || (host.effect->flags & effFlagsHasEditor) == 0) {
        return false;
    }
    host.editorWindow = parent;
    CallDispatcher(host, host.effect, effEditOpen, 0, parent, 0.0f);
    ERect* asked = nullptr;
    CallDispatcher(host, host.effect, effEditGetRect, 0, &asked, 0.0f);
    *size = asked != nullptr ? *asked : ERect{};
    const bool open = host.effect != nullptr && host.fault.load() == 0;
    if (!open) {
        host.editorWindow = nullptr;
    }
    return open;
}

void CloseEditor(EffectHandle* self) {
    const EffectCallScope scope(self);
    PluginHost& host = HostOf(self);
    CallDispatcher(host, host.effect, effEditClose, 0, nullptr, 0.0f);
    host.editorWindow = nullptr;
}

void IdleEditor(EffectHandle* self) {
    PluginHost& host = HostOf(self);
    CallDispatcher(host, host.effect, effEditIdle, 0, nullptr, 0.0f);
}

bool TakeEvent(EffectHandle*, EffectEvent*) {
    return false;
}

void SetHostValues(EffectHandle*, const EffectHostValues&) {}

void Unload(EffectHandle* self) {
    const EffectCallScope scope(self);
    UnloadPlugin(HostOf(self));
}

EffectFault Fault(EffectHandle* self) {
    const uint32_t code = HostOf(self).fault.load();
    if (code == EFFECT_HUNG) {
        return {EffectFaultKind::Hung, 0};
    }
    return {code != 0 ? EffectFaultKind::Fault : EffectFaultKind::None, code};
}

EffectBlockStats BlockStats(EffectHandle*) {
    return {0, false};
}

void Destroy(EffectHandle* self) {
    delete static_cast<InProcessEffect*>(self); // the host unloads as it goes
}

} // namespace

EffectHandle* OpenInProcessEffect() {
    InProcessEffect* made = new InProcessEffect();
    static_cast<EffectHandle&>(*made) =
        EffectHandle{Load,          Restore,    Capture,     SetBlockSize, Process,
                     Dispatch,      OpenEditor, CloseEditor, IdleEditor,   TakeEvent,
                     SetHostValues, Unload,     Fault,       BlockStats,   Destroy};
    return made;
}

PluginHost* InProcessHostOf(EffectHandle* handle) {
    return handle != nullptr && handle->destroy == Destroy ? &HostOf(handle) : nullptr;
}
