#include <cstring>
#include <cwchar>
#include <string>

#include "plugin/effect_handle.h"

namespace {

struct HostProcessEffect : EffectHandle {
    std::string hostProgram;
    FxLimits limits;
    FxClient client;
    bool started = false;
    uint32_t hostFault = 0;     // a fault the host's guard caught in the effect
    int64_t samplePosition = 0; // frames since the effect was last resumed
    std::vector<uint8_t> chunk; // the last chunk fetched, for the pointer handed out
    ERect rect = {};            // the last editor size fetched
};

HostProcessEffect& Of(EffectHandle* handle) {
    return *static_cast<HostProcessEffect*>(handle);
}

// A call with the fields fill writes; false when unanswered or the host refused it.
template <typename Fill> bool Call(HostProcessEffect& e, uint32_t limitMs, Fill fill) {
    if (!e.started || e.client.shared == nullptr) {
        return false;
    }
    fill(e.client.shared->call);
    if (!FxExchange(&e.client, limitMs)) {
        return false;
    }
    e.hostFault = e.client.shared->answer.fault;
    return e.client.shared->answer.ok != 0;
}

void Unload(EffectHandle* handle) {
    HostProcessEffect& e = Of(handle);
    if (e.started) {
        FxStop(&e.client);
        e.started = false;
    }
}

bool Load(EffectHandle* handle, const wchar_t* path, int32_t sampleRate) {
    HostProcessEffect& e = Of(handle);
    Unload(handle);
    e.hostFault = 0;
    const size_t units = std::wcslen(path) + 1;
    if (units * sizeof(wchar_t) > FX_PIECE_BYTES) {
        return false;
    }
    e.started = FxStart(&e.client, e.hostProgram.c_str(), e.limits);
    const bool loaded = Call(e, e.limits.startMs, [&](FxCall& call) {
        call.command = FxCommand::Load;
        call.sampleRate = sampleRate;
        std::memcpy(e.client.shared->piece, path, units * sizeof(wchar_t));
    });
    if (!loaded && e.client.fault.kind == EffectFaultKind::None) {
        Unload(handle); // refused or faulted while loading: nothing stays loaded
    }
    return loaded;
}

StateRestore Restore(EffectHandle* handle, const std::vector<uint8_t>& state) {
    HostProcessEffect& e = Of(handle);
    if (state.size() > FX_MAX_STAGED_BYTES) {
        return StateRestore::Damaged; // more than any state of an effect the host can carry
    }
    if (!e.started || !FxPutStaged(&e.client, state.data(), static_cast<uint32_t>(state.size())) ||
        !Call(e, e.limits.callMs, [](FxCall& call) { call.command = FxCommand::RestoreState; })) {
        return StateRestore::NotThisEffect;
    }
    const int64_t result = e.client.shared->answer.result;
    return result == static_cast<int64_t>(StateRestore::Restored)  ? StateRestore::Restored
           : result == static_cast<int64_t>(StateRestore::Damaged) ? StateRestore::Damaged
                                                                   : StateRestore::NotThisEffect;
}

bool Capture(EffectHandle* handle, std::vector<uint8_t>& state) {
    HostProcessEffect& e = Of(handle);
    state.clear();
    return Call(e, e.limits.callMs, [](FxCall& call) { call.command = FxCommand::CaptureState; }) &&
           FxTakeStaged(&e.client, e.client.shared->answer.bytes, state);
}

void SetBlockSize(EffectHandle* handle, uint32_t frames) {
    HostProcessEffect& e = Of(handle);
    e.samplePosition = 0;
    Call(e, e.limits.callMs, [frames](FxCall& call) {
        call.command = FxCommand::SetBlockSize;
        call.frames = frames;
    });
}

bool Process(EffectHandle* handle, const int16_t* input, int16_t* output, uint32_t frames) {
    HostProcessEffect& e = Of(handle);
    if (frames == 0 || frames > FX_MAX_FRAMES || e.client.shared == nullptr || e.hostFault != 0) {
        return false;
    }
    FxShared& shared = *e.client.shared;
    std::memcpy(shared.input, input, frames * 2 * sizeof(int16_t));
    const bool processed = Call(e, e.limits.blockMs, [&](FxCall& call) {
        call.command = FxCommand::Block;
        call.frames = frames;
        call.samplePosition = e.samplePosition;
    });
    if (!processed || e.hostFault != 0) {
        return false;
    }
    std::memcpy(output, shared.output, frames * 2 * sizeof(int16_t));
    e.samplePosition += frames;
    return true;
}

VstIntPtr Dispatch(EffectHandle* handle, int32_t opcode, int32_t index, VstIntPtr value, void* ptr,
                   float opt) {
    HostProcessEffect& e = Of(handle);
    FxPayload payload = FxPayload::None;
    if (ptr != nullptr) {
        if (opcode == effGetChunk) {
            payload = FxPayload::ChunkOut;
        } else if (opcode == effEditGetRect) {
            payload = FxPayload::RectOut;
        } else if (opcode == effSetChunk && value >= 0 &&
                   static_cast<uint64_t>(value) <= FX_MAX_CHUNK_BYTES) {
            payload = FxPayload::Staged;
            if (!FxPutStaged(&e.client, static_cast<const uint8_t*>(ptr),
                             static_cast<uint32_t>(value))) {
                return 0;
            }
        } else {
            return 0;
        }
    }
    const bool answered = Call(e, e.limits.callMs, [&](FxCall& call) {
        call.command = FxCommand::Dispatch;
        call.opcode = opcode;
        call.index = index;
        call.value = static_cast<int64_t>(value);
        call.opt = opt;
        call.payload = payload;
    });
    if (!answered) {
        return 0;
    }
    const FxAnswer& answer = e.client.shared->answer;
    const VstIntPtr result = static_cast<VstIntPtr>(answer.result);
    if (payload == FxPayload::RectOut) {
        e.rect = answer.rect;
        *static_cast<ERect**>(ptr) = &e.rect;
    } else if (payload == FxPayload::ChunkOut) {
        if (answer.bytes == 0 || static_cast<uint64_t>(result) != answer.bytes ||
            !FxTakeStaged(&e.client, answer.bytes, e.chunk)) {
            return 0;
        }
        *static_cast<void**>(ptr) = e.chunk.data();
    }
    return result;
}

// Not yet carried across processes: no editor there, no events, the host's own values.
bool OpenEditor(EffectHandle*, void*, ERect*) {
    return false;
}

void CloseEditor(EffectHandle*) {}

bool TakeEvent(EffectHandle*, EffectEvent*) {
    return false;
}

void SetHostValues(EffectHandle*, const EffectHostValues&) {}

EffectFault Fault(EffectHandle* handle) {
    HostProcessEffect& e = Of(handle);
    if (e.client.fault.kind != EffectFaultKind::None) {
        return e.client.fault;
    }
    return {e.hostFault != 0 ? EffectFaultKind::Fault : EffectFaultKind::None, e.hostFault};
}

void Destroy(EffectHandle* handle) {
    Unload(handle);
    delete &Of(handle);
}

} // namespace

EffectHandle* OpenHostProcessEffect(const char* hostProgram, const FxLimits& limits) {
    HostProcessEffect* e = new HostProcessEffect;
    static_cast<EffectHandle&>(*e) = EffectHandle{
        Load,        Restore,   Capture,       SetBlockSize, Process, Dispatch, OpenEditor,
        CloseEditor, TakeEvent, SetHostValues, Unload,       Fault,   Destroy};
    e->hostProgram = hostProgram;
    e->limits = limits;
    return e;
}
