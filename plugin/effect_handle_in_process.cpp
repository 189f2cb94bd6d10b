#include "plugin/effect_dispatch.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"

namespace {

bool Load(EffectHandle*, const wchar_t* path, int32_t sampleRate) {
    return LoadPlugin(path, sampleRate);
}

StateRestore Restore(EffectHandle*, const std::vector<uint8_t>& state) {
    return RestoreEffectState(state);
}

bool Capture(EffectHandle*, std::vector<uint8_t>& state) {
    return CaptureEffectState(state);
}

void SetBlockSize(EffectHandle*, uint32_t frames) {
    SetPluginBlockSize(frames);
}

bool Process(EffectHandle*, const int16_t* input, int16_t* output, uint32_t frames) {
    return ProcessWithPlugin(input, output, frames);
}

VstIntPtr Dispatch(EffectHandle*, int32_t opcode, int32_t index, VstIntPtr value, void* ptr,
                   float opt) {
    return CallDispatcher(effect, opcode, value, ptr, opt, index);
}

// In this process the program drives the editor and answers the effect itself.
bool OpenEditor(EffectHandle*, void*, ERect*) {
    return false;
}

void CloseEditor(EffectHandle*) {}

bool TakeEvent(EffectHandle*, EffectEvent*) {
    return false;
}

void SetHostValues(EffectHandle*, const EffectHostValues&) {}

void Unload(EffectHandle*) {
    UnloadPlugin();
}

EffectFault Fault(EffectHandle*) {
    const uint32_t code = effectFault.load();
    if (code == EFFECT_HUNG) {
        return {EffectFaultKind::Hung, 0};
    }
    return {code != 0 ? EffectFaultKind::Fault : EffectFaultKind::None, code};
}

void Destroy(EffectHandle* self) {
    UnloadPlugin();
    delete self;
}

} // namespace

EffectHandle* OpenInProcessEffect() {
    return new EffectHandle{Load,     Restore,    Capture,     SetBlockSize, Process,
                            Dispatch, OpenEditor, CloseEditor, TakeEvent,    SetHostValues,
                            Unload,   Fault,      Destroy};
}
