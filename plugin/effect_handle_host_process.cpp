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
    uint32_t hostFault = 0;       // a fault the host's guard caught in the effect
    int64_t samplePosition = 0;   // frames since the effect was last resumed (audio thread)
    std::vector<uint8_t> chunk;   // the last chunk fetched, for the pointer handed out
    ERect rect = {};              // the last editor size fetched
    EffectHostValues values = {}; // as last set, for the next host started too
};

HostProcessEffect& Of(EffectHandle* handle) {
    return *static_cast<HostProcessEffect*>(handle);
}

// A call with the fields fill writes; false when unanswered or the host refused it.
// Refused at once while another control call waits (one made from a message handled
// meanwhile): the call's fields are written only once the lane is this call's.
template <typename Fill> bool Call(HostProcessEffect& e, uint32_t limitMs, Fill fill) {
    if (!e.started || e.client.shared == nullptr || e.client.controlWaiting.load()) {
        return false;
    }
    fill(e.client.shared->control.call);
    if (!FxExchange(&e.client, limitMs)) {
        return false;
    }
    e.hostFault = e.client.shared->control.answer.fault;
    return e.client.shared->control.answer.ok != 0;
}

void WriteHostValues(HostProcessEffect& e) {
    if (e.client.shared == nullptr) {
        return;
    }
    FxHostValues& shared = e.client.shared->values;
    const float rate = static_cast<float>(e.values.sampleRate);
    uint32_t bits = 0;
    std::memcpy(&bits, &rate, sizeof bits);
    shared.sampleRateBits.store(e.values.sampleRate > 0.0 ? bits : 0u);
    shared.blockSize.store(e.values.blockSize);
    shared.processLevel.store(e.values.processLevel);
}

// Also after a start that failed: whatever the start left is released.
void Unload(EffectHandle* handle) {
    const EffectCallScope scope(handle);
    HostProcessEffect& e = Of(handle);
    if (e.client.controlWaiting.load()) {
        return; // made from a message handled during a wait on the very host it would end
    }
    FxStop(&e.client);
    e.started = false;
}

bool Load(EffectHandle* handle, const wchar_t* path, int32_t sampleRate) {
    const EffectCallScope scope(handle);
    HostProcessEffect& e = Of(handle);
    if (e.client.controlWaiting.load()) {
        return false;
    }
    Unload(handle);
    e.hostFault = 0;
    const size_t units = std::wcslen(path) + 1;
    if (units * sizeof(wchar_t) > FX_PIECE_BYTES) {
        return false;
    }
    e.started = FxStart(&e.client, e.hostProgram.c_str(), e.limits);
    WriteHostValues(e);
    const bool loaded = Call(e, e.limits.startMs, [&](FxCall& call) {
        call.command = FxCommand::Load;
        call.sampleRate = sampleRate;
        std::memcpy(e.client.shared->piece, path, units * sizeof(wchar_t));
    });
    if (!loaded && FxFaultOf(&e.client).kind == EffectFaultKind::None) {
        Unload(handle); // refused or faulted while loading: nothing stays loaded
    }
    return loaded;
}

StateRestore Restore(EffectHandle* handle, const std::vector<uint8_t>& state) {
    const EffectCallScope scope(handle);
    HostProcessEffect& e = Of(handle);
    if (state.size() > FX_MAX_STAGED_BYTES) {
        return StateRestore::Damaged; // more than any state of an effect the host can carry
    }
    if (!e.started || !FxPutStaged(&e.client, state.data(), static_cast<uint32_t>(state.size())) ||
        !Call(e, e.limits.callMs, [](FxCall& call) { call.command = FxCommand::RestoreState; })) {
        return StateRestore::NotThisEffect;
    }
    const int64_t result = e.client.shared->control.answer.result;
    return result == static_cast<int64_t>(StateRestore::Restored)  ? StateRestore::Restored
           : result == static_cast<int64_t>(StateRestore::Damaged) ? StateRestore::Damaged
                                                                   : StateRestore::NotThisEffect;
}

bool Capture(EffectHandle* handle, std::vector<uint8_t>& state) {
    const EffectCallScope scope(handle);
    HostProcessEffect& e = Of(handle);
    state.clear();
    return Call(e, e.limits.callMs, [](FxCall& call) { call.command = FxCommand::CaptureState; }) &&
           FxTakeStaged(&e.client, e.client.shared->control.answer.bytes, state);
}

void SetBlockSize(EffectHandle* handle, uint32_t frames) {
    const EffectCallScope scope(handle);
    HostProcessEffect& e = Of(handle);
    e.samplePosition = 0;
    Call(e, e.limits.callMs, [frames](FxCall& call) {
        call.command = FxCommand::SetBlockSize;
        call.frames = frames;
    });
}

// The block lane: never behind a control call, never waiting longer than the limits say.
bool Process(EffectHandle* handle, const float* input, float* output, uint32_t frames) {
    HostProcessEffect& e = Of(handle);
    if (!e.started) {
        return false;
    }
    const FxBlockResult result = FxBlock(&e.client, input, output, frames, e.samplePosition);
    if (result != FxBlockResult::Failed) {
        e.samplePosition += frames; // sent: the effect sees it, if late
    }
    return result == FxBlockResult::Answered;
}

VstIntPtr Dispatch(EffectHandle* handle, int32_t opcode, int32_t index, VstIntPtr value, void* ptr,
                   float opt) {
    const EffectCallScope scope(handle);
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
    const FxAnswer& answer = e.client.shared->control.answer;
    const VstIntPtr result = static_cast<VstIntPtr>(answer.result);
    if (payload == FxPayload::RectOut) {
        e.rect = answer.rect;
        *static_cast<ERect**>(ptr) = &e.rect;
    } else if (payload == FxPayload::ChunkOut) {
        const uint32_t bytes = answer.bytes; // once: the size handed out is the size fetched
        if (bytes > FX_MAX_CHUNK_BYTES || (bytes != 0 && static_cast<uint64_t>(result) != bytes)) {
            FxBreach(&e.client, BREACH_SIZE); // its host stages a chunk of the size it answers
            return 0;
        }
        if (bytes == 0 || !FxTakeStaged(&e.client, bytes, e.chunk)) {
            return 0;
        }
        *static_cast<void**>(ptr) = e.chunk.data();
    }
    return result;
}

// The host process makes the effect's window a child of parent. The window's handle crosses as a
// 64-bit number, sign-extended from a 32-bit caller: Windows keeps window handles to 32
// significant bits, so either bitness reads it back whole.
bool OpenEditor(EffectHandle* handle, void* parent, ERect* size) {
    const EffectCallScope scope(handle);
    HostProcessEffect& e = Of(handle);
    const bool opened = Call(e, e.limits.callMs, [parent](FxCall& call) {
        call.command = FxCommand::OpenEditor;
        call.value = static_cast<int64_t>(reinterpret_cast<intptr_t>(parent));
    });
    if (opened && size != nullptr) {
        *size = e.client.shared->control.answer.rect;
    }
    return opened;
}

void CloseEditor(EffectHandle* handle) {
    const EffectCallScope scope(handle);
    HostProcessEffect& e = Of(handle);
    Call(e, e.limits.callMs, [](FxCall& call) { call.command = FxCommand::CloseEditor; });
}

void IdleEditor(EffectHandle*) {}

bool TakeEvent(EffectHandle* handle, EffectEvent* event) {
    FxEvent taken;
    if (!FxTakeEvent(&Of(handle).client, &taken)) {
        return false;
    }
    const EffectEventKind kinds[] = {EffectEventKind::SizeWindow, EffectEventKind::Automate,
                                     EffectEventKind::UpdateDisplay};
    *event = EffectEvent{kinds[static_cast<uint32_t>(taken.kind) - 1], taken.index, taken.value,
                         taken.width, taken.height};
    return true;
}

void SetHostValues(EffectHandle* handle, const EffectHostValues& values) {
    HostProcessEffect& e = Of(handle);
    e.values = values;
    WriteHostValues(e);
}

EffectFault Fault(EffectHandle* handle) {
    HostProcessEffect& e = Of(handle);
    const EffectFault own = FxFaultOf(&e.client);
    if (own.kind != EffectFaultKind::None) {
        return own;
    }
    return {e.hostFault != 0 ? EffectFaultKind::Fault : EffectFaultKind::None, e.hostFault};
}

EffectBlockStats BlockStats(EffectHandle* handle) {
    const FxBlockStats& stats = Of(handle).client.stats;
    return {stats.late.load(std::memory_order_relaxed),
            stats.ahead.load(std::memory_order_relaxed)};
}

void Destroy(EffectHandle* handle) {
    Unload(handle);
    delete &Of(handle);
}

} // namespace

EffectHandle* OpenHostProcessEffect(const char* hostProgram, const FxLimits& limits) {
    HostProcessEffect* e = new HostProcessEffect;
    static_cast<EffectHandle&>(*e) =
        EffectHandle{Load,          Restore,    Capture,     SetBlockSize, Process,
                     Dispatch,      OpenEditor, CloseEditor, IdleEditor,   TakeEvent,
                     SetHostValues, Unload,     Fault,       BlockStats,   Destroy};
    e->missedBlocksPlayStage = true;
    e->hostProgram = hostProgram;
    e->limits = limits;
    return e;
}
