// One hosted effect behind the few functions the program and the renderer use, whichever
// process it runs in: this one (the process-wide host of plugin_host.h, unchanged) or a
// plug-in host process of its own (kawauso-fxhost). The caller makes the same calls in the same
// order either way, so the effect sees the same call sequence.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/effect_fault.h"
#include "plugin/fx_client.h"
#include "plugin/plugin_state.h"
#include "plugin/vst2.h"

struct EffectHandle {
    // Replaces whatever was loaded with the effect in path (as LoadPlugin); false when it
    // cannot be loaded or faulted while loading (fault() tells the two apart).
    bool (*load)(EffectHandle* self, const wchar_t* path, int32_t sampleRate);
    StateRestore (*restoreState)(EffectHandle* self, const std::vector<uint8_t>& state);
    bool (*captureState)(EffectHandle* self, std::vector<uint8_t>& state);
    void (*setBlockSize)(EffectHandle* self, uint32_t frames);
    // As ProcessWithPlugin: false when declined or faulted, and then output is untouched.
    bool (*process)(EffectHandle* self, const int16_t* input, int16_t* output, uint32_t frames);
    // A dispatcher call; ptr as the opcode takes it. Across processes ptr is carried by value
    // for effGetChunk, effSetChunk and effEditGetRect (what it receives stays valid until the
    // next call); any other opcode with a ptr is not sent there and gives 0.
    VstIntPtr (*dispatch)(EffectHandle* self, int32_t opcode, int32_t index, VstIntPtr value,
                          void* ptr, float opt);
    void (*unload)(EffectHandle* self);
    EffectFault (*fault)(EffectHandle* self);
    void (*destroy)(EffectHandle* self); // unloads, then frees the handle
};

// The process-wide in-process host behind a handle; one at a time.
EffectHandle* OpenInProcessEffect();
// Each load starts hostProgram (a kawauso-fxhost) for the effect; unload ends it.
EffectHandle* OpenHostProcessEffect(const char* hostProgram, const FxLimits& limits);

inline void CloseEffect(EffectHandle* handle) {
    if (handle != nullptr) {
        handle->destroy(handle);
    }
}
