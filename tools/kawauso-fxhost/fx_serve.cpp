#include "tools/kawauso-fxhost/fx_serve.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/platform.h"
#include "plugin/effect_dispatch.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_state.h"

namespace {

constexpr uint32_t IDLE_WAIT_MS = 1000;
constexpr size_t PATH_UNITS = FX_PIECE_BYTES / sizeof(wchar_t);

// The effect's own memory (a chunk, an editor size) is read inside a guarded call: an address
// it gives may be bad.
struct Copy {
    void* to;
    const void* from;
    size_t bytes;
};

void RunCopy(void* context) {
    const Copy& c = *static_cast<const Copy*>(context);
    std::memcpy(c.to, c.from, c.bytes);
}

bool GuardedCopy(void* to, const void* from, size_t bytes) {
    Copy copy = {to, from, bytes};
    const uint32_t fault = GuardedCall(RunCopy, &copy);
    RecordEffectFault(fault);
    return fault == 0;
}

class Server {
  public:
    explicit Server(FxShared* memory) : shared(memory) {}

    // One call into its answer; true when it was the last.
    bool Answer(const FxCall& call, FxAnswer& answer) {
        answer.ok = 0;
        answer.result = 0;
        answer.bytes = 0;
        switch (call.command) {
        case FxCommand::Load:
            answer.ok = Load(call, answer) ? 1 : 0;
            break;
        case FxCommand::SetBlockSize:
            if (call.frames >= 1 && call.frames <= FX_MAX_FRAMES) {
                SetPluginBlockSize(call.frames);
                answer.ok = 1;
            }
            break;
        case FxCommand::Block:
            answer.ok = Block(call) ? 1 : 0;
            break;
        case FxCommand::Dispatch:
            Dispatch(call, answer);
            break;
        case FxCommand::PutPiece:
            answer.ok = PutPiece(call) ? 1 : 0;
            break;
        case FxCommand::TakePiece:
            if (call.bytes <= FX_PIECE_BYTES && call.offset <= staged.size() &&
                call.bytes <= staged.size() - call.offset) {
                std::memcpy(shared->piece, staged.data() + call.offset, call.bytes);
                answer.bytes = call.bytes;
                answer.ok = 1;
            }
            break;
        case FxCommand::RestoreState:
            answer.result = static_cast<int64_t>(RestoreEffectState(staged));
            answer.ok = 1;
            break;
        case FxCommand::CaptureState:
            answer.ok = CaptureEffectState(staged) && staged.size() <= FX_MAX_STAGED_BYTES;
            answer.bytes = answer.ok != 0 ? static_cast<uint32_t>(staged.size()) : 0;
            break;
        case FxCommand::Unload:
            UnloadPlugin();
            answer.ok = 1;
            break;
        case FxCommand::Quit:
            UnloadPlugin();
            answer.ok = 1;
            return true;
        case FxCommand::None:
            break;
        }
        return false;
    }

  private:
    bool Load(const FxCall& call, FxAnswer& answer) {
        const wchar_t* path = reinterpret_cast<const wchar_t*>(shared->piece);
        if (wmemchr(path, L'\0', PATH_UNITS) == nullptr || !LoadPlugin(path, call.sampleRate)) {
            return false;
        }
        answer.numInputs = effect->numInputs;
        answer.numOutputs = effect->numOutputs;
        answer.flags = effect->flags;
        return true;
    }

    bool Block(const FxCall& call) {
        if (call.frames > FX_MAX_FRAMES) {
            return false;
        }
        blockSamplePosition.store(call.samplePosition);
        return ProcessWithPlugin(shared->input, shared->output, call.frames);
    }

    void Dispatch(const FxCall& call, FxAnswer& answer) {
        void* out = nullptr;
        void* ptr = nullptr;
        switch (call.payload) {
        case FxPayload::None:
            break;
        case FxPayload::Staged:
            ptr = staged.data();
            break;
        case FxPayload::ChunkOut:
        case FxPayload::RectOut:
            ptr = &out;
            break;
        }
        const VstIntPtr result = CallDispatcher(
            effect, call.opcode, static_cast<VstIntPtr>(call.value), ptr, call.opt, call.index);
        answer.result = result;
        answer.ok = 1;
        if (call.payload == FxPayload::ChunkOut) {
            staged.clear();
            if (out != nullptr && result > 0 &&
                static_cast<uint64_t>(result) <= FX_MAX_CHUNK_BYTES) {
                staged.resize(static_cast<size_t>(result));
                answer.ok = GuardedCopy(staged.data(), out, staged.size()) ? 1 : 0;
                answer.bytes = answer.ok != 0 ? static_cast<uint32_t>(result) : 0;
            }
        } else if (call.payload == FxPayload::RectOut) {
            answer.ok = out != nullptr && GuardedCopy(&answer.rect, out, sizeof(ERect)) ? 1 : 0;
        }
    }

    bool PutPiece(const FxCall& call) {
        if (call.offset == 0) {
            staged.clear();
        }
        if (call.offset != staged.size() || call.bytes > FX_PIECE_BYTES ||
            call.bytes > FX_MAX_STAGED_BYTES - staged.size()) {
            return false;
        }
        staged.insert(staged.end(), shared->piece, shared->piece + call.bytes);
        return true;
    }

    FxShared* shared;
    std::vector<uint8_t> staged; // a chunk or a state, on its way in pieces
};

} // namespace

bool ServeCalls(FxShared* shared, WakeUp* toHost, WakeUp* toCaller) {
    if (shared->magic != FX_MAGIC || shared->layoutBytes != sizeof(FxShared)) {
        return false;
    }
    Server server(shared);
    uint32_t last = 0;
    shared->answer.sequence.store(0, std::memory_order_release);
    WakeUpSignal(toCaller);
    for (;;) {
        if (!WakeUpWait(toHost, IDLE_WAIT_MS)) {
            continue;
        }
        const uint32_t sequence = shared->call.sequence.load(std::memory_order_acquire);
        if (sequence == last) {
            continue;
        }
        last = sequence;
        const bool quit = server.Answer(shared->call, shared->answer);
        shared->answer.fault = effectFault.load();
        shared->answer.sequence.store(sequence, std::memory_order_release);
        WakeUpSignal(toCaller);
        if (quit) {
            return true;
        }
    }
}
