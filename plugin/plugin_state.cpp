#include "plugin/plugin_state.h"

#include <cstring>

#include "platform/little_endian.h"
#include "platform/platform.h"
#include "plugin/effect_dispatch.h"
#include "plugin/plugin_host.h"

namespace {

// Layout, little-endian: "KWST", format, unique id, version, kind, payload bytes, payload.
constexpr char STATE_MAGIC[4] = {'K', 'W', 'S', 'T'};
constexpr uint32_t STATE_FORMAT = 1;
constexpr uint32_t KIND_CHUNK = 1;
constexpr uint32_t KIND_PARAMETERS = 2;

bool HasChunk(const AEffect* target) {
    return (target->flags & effFlagsProgramChunks) != 0;
}

// The effect's own memory is read inside a guarded call: a chunk address it gives may be bad.
struct ChunkCopy {
    const uint8_t* from;
    size_t bytes;
    std::vector<uint8_t>* to;
};

void RunChunkCopy(void* context) {
    ChunkCopy& c = *static_cast<ChunkCopy*>(context);
    c.to->insert(c.to->end(), c.from, c.from + c.bytes);
}

struct ParameterCall {
    AEffect* target;
    int32_t count;
    float* values;
    bool write;
};

void RunParameters(void* context) {
    ParameterCall& c = *static_cast<ParameterCall*>(context);
    for (int32_t i = 0; i < c.count; ++i) {
        if (c.write) {
            c.target->setParameter(c.target, i, c.values[i]);
        } else {
            c.values[i] = c.target->getParameter(c.target, i);
        }
    }
}

bool CapturePayload(PluginHost& host, std::vector<uint8_t>& state) {
    AEffect* const effect = host.effect;
    if (HasChunk(effect)) {
        void* chunk = nullptr;
        const VstIntPtr bytes = CallDispatcher(host, effect, effGetChunk, 0, &chunk, 0.0f);
        if (chunk == nullptr || bytes <= 0 || static_cast<uint64_t>(bytes) > MAX_STATE_BYTES) {
            return false;
        }
        Put32(state, static_cast<uint32_t>(bytes));
        ChunkCopy copy = {static_cast<const uint8_t*>(chunk), static_cast<size_t>(bytes), &state};
        const uint32_t fault = GuardedCall(RunChunkCopy, &copy);
        RecordEffectFault(host, fault);
        return fault == 0;
    }
    const int32_t count = effect->getParameter != nullptr && effect->numParams > 0 &&
                                  effect->numParams <= static_cast<int32_t>(MAX_STATE_BYTES / 4)
                              ? effect->numParams
                              : 0;
    std::vector<float> values(static_cast<size_t>(count));
    ParameterCall call = {effect, count, values.data(), false};
    const uint32_t fault = count > 0 ? GuardedCall(RunParameters, &call) : 0;
    RecordEffectFault(host, fault);
    Put32(state, static_cast<uint32_t>(count) * 4);
    for (float value : values) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        Put32(state, bits);
    }
    return fault == 0;
}

} // namespace

bool CaptureEffectState(PluginHost& host, std::vector<uint8_t>& state) {
    AEffect* const effect = host.effect;
    state.clear();
    if (effect == nullptr || host.fault.load() != 0) {
        return false;
    }
    state.insert(state.end(), STATE_MAGIC, STATE_MAGIC + sizeof STATE_MAGIC);
    Put32(state, STATE_FORMAT);
    Put32(state, static_cast<uint32_t>(effect->uniqueID));
    Put32(state, static_cast<uint32_t>(effect->version));
    Put32(state, HasChunk(effect) ? KIND_CHUNK : KIND_PARAMETERS);
    if (!CapturePayload(host, state)) {
        state.clear();
        return false;
    }
    return true;
}

StateRestore RestoreEffectState(PluginHost& host, const std::vector<uint8_t>& state) {
    AEffect* const effect = host.effect;
    if (state.size() < STATE_HEADER_BYTES || std::memcmp(state.data(), STATE_MAGIC, 4) != 0 ||
        Get32(&state[4]) != STATE_FORMAT ||
        Get32(&state[20]) != state.size() - STATE_HEADER_BYTES) {
        return StateRestore::Damaged;
    }
    const uint32_t kind = Get32(&state[16]);
    if (effect == nullptr || host.fault.load() != 0 ||
        Get32(&state[8]) != static_cast<uint32_t>(effect->uniqueID) ||
        Get32(&state[12]) != static_cast<uint32_t>(effect->version) ||
        kind != (HasChunk(effect) ? KIND_CHUNK : KIND_PARAMETERS)) {
        return StateRestore::NotThisEffect;
    }
    const uint8_t* payload = state.data() + STATE_HEADER_BYTES;
    const size_t bytes = state.size() - STATE_HEADER_BYTES;
    if (kind == KIND_CHUNK) {
        // The effect may keep the pointer or scribble on it: it gets a copy of its own.
        std::vector<uint8_t> chunk(payload, payload + bytes);
        CallDispatcher(host, effect, effSetChunk, static_cast<VstIntPtr>(bytes), chunk.data(),
                       0.0f);
        return StateRestore::Restored;
    }
    if (bytes != static_cast<size_t>(effect->numParams) * 4 || effect->setParameter == nullptr) {
        return bytes == 0 ? StateRestore::Restored : StateRestore::NotThisEffect;
    }
    std::vector<float> values(bytes / 4);
    for (size_t i = 0; i < values.size(); ++i) {
        const uint32_t bits = Get32(payload + 4 * i);
        std::memcpy(&values[i], &bits, sizeof bits);
    }
    ParameterCall call = {effect, static_cast<int32_t>(values.size()), values.data(), true};
    RecordEffectFault(host, GuardedCall(RunParameters, &call));
    return StateRestore::Restored;
}
