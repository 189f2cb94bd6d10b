#include "plugin/effect_dispatch.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"

namespace {

bool Load(EffectHandle* self, const wchar_t* path, int32_t sampleRate) {
    const EffectCallScope scope(self);
    return LoadPlugin(path, sampleRate);
}

StateRestore Restore(EffectHandle* self, const std::vector<uint8_t>& state) {
    const EffectCallScope scope(self);
    return RestoreEffectState(state);
}

bool Capture(EffectHandle* self, std::vector<uint8_t>& state) {
    const EffectCallScope scope(self);
    return CaptureEffectState(state);
}

void SetBlockSize(EffectHandle* self, uint32_t frames) {
    const EffectCallScope scope(self);
    SetPluginBlockSize(frames);
}

bool Process(EffectHandle*, const float* input, float* output, uint32_t frames) {
    return ProcessWithPlugin(input, output, frames);
}

VstIntPtr Dispatch(EffectHandle* self, int32_t opcode, int32_t index, VstIntPtr value, void* ptr,
                   float opt) {
    const EffectCallScope scope(self);
    return CallDispatcher(effect, opcode, value, ptr, opt, index);
}

bool OpenEditor(EffectHandle* self, void* parent, ERect* size) {
    const EffectCallScope scope(self);
    if (effect == nullptr || (effect->flags & effFlagsHasEditor) == 0) {
        return false;
    }
    CallDispatcher(effect, effEditOpen, 0, parent, 0.0f);
    ERect* asked = nullptr;
    CallDispatcher(effect, effEditGetRect, 0, &asked, 0.0f);
    *size = asked != nullptr ? *asked : ERect{};
    return effect != nullptr && effectFault.load() == 0;
}

void CloseEditor(EffectHandle* self) {
    const EffectCallScope scope(self);
    CallDispatcher(effect, effEditClose, 0, nullptr, 0.0f);
}

void IdleEditor(EffectHandle*) {
    CallDispatcher(effect, effEditIdle, 0, nullptr, 0.0f);
}

bool TakeEvent(EffectHandle*, EffectEvent*) {
    return false;
}

void SetHostValues(EffectHandle*, const EffectHostValues&) {}

void Unload(EffectHandle* self) {
    const EffectCallScope scope(self);
    UnloadPlugin();
}

EffectFault Fault(EffectHandle*) {
    const uint32_t code = effectFault.load();
    if (code == EFFECT_HUNG) {
        return {EffectFaultKind::Hung, 0};
    }
    return {code != 0 ? EffectFaultKind::Fault : EffectFaultKind::None, code};
}

EffectBlockStats BlockStats(EffectHandle*) {
    return {0, false};
}

void Destroy(EffectHandle* self) {
    UnloadPlugin();
    delete self;
}

} // namespace

EffectHandle* OpenInProcessEffect() {
    return new EffectHandle{Load,          Restore,    Capture,     SetBlockSize, Process,
                            Dispatch,      OpenEditor, CloseEditor, IdleEditor,   TakeEvent,
                            SetHostValues, Unload,     Fault,       BlockStats,   Destroy};
}
