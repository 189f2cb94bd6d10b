#include "tools/kawauso-fxhost/fx_serve.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "plugin/effect_dispatch.h"
#include "plugin/host_callback.h"
#include "plugin/plugin_bridge.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_state.h"

namespace {

constexpr uint32_t IDLE_WAIT_MS = 1000;
constexpr uint32_t EDITOR_IDLE_MS = 20; // the editor's idle tick, as in the program's own window
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

bool GuardedCopy(PluginHost& host, void* to, const void* from, size_t bytes) {
    Copy copy = {to, from, bytes};
    const uint32_t fault = GuardedCall(RunCopy, &copy);
    RecordEffectFault(host, fault);
    return fault == 0;
}

class Server {
  public:
    explicit Server(FxShared* memory) : shared(memory) {}

    // One control call into its answer; true when it was the last. What changes the effect or
    // its buffers waits for a block in progress; what only asks it (a dispatcher call, its
    // state, its editor) does not, as in the program's own process.
    bool Answer(const FxCall& call, FxAnswer& answer) {
        answer.ok = 0;
        answer.result = 0;
        answer.bytes = 0;
        switch (call.command) {
        case FxCommand::Load: {
            CloseEditor();
            std::lock_guard<std::mutex> hold(effectLock);
            answer.ok = Load(call, answer) ? 1 : 0;
            break;
        }
        case FxCommand::SetBlockSize:
            if (call.frames >= 1 && call.frames <= FX_MAX_FRAMES) {
                std::lock_guard<std::mutex> hold(effectLock);
                SetPluginBlockSize(host, call.frames);
                answer.ok = 1;
            }
            break;
        case FxCommand::Block:
            break; // the block lane's
        case FxCommand::OpenEditor:
            answer.ok = OpenEditor(call, answer) ? 1 : 0;
            break;
        case FxCommand::CloseEditor:
            CloseEditor();
            answer.ok = 1;
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
        case FxCommand::RestoreState: {
            std::lock_guard<std::mutex> hold(effectLock);
            answer.result = static_cast<int64_t>(RestoreEffectState(host, staged));
            answer.ok = 1;
            break;
        }
        case FxCommand::CaptureState:
            answer.ok = CaptureEffectState(host, staged) && staged.size() <= FX_MAX_STAGED_BYTES;
            answer.bytes = answer.ok != 0 ? static_cast<uint32_t>(staged.size()) : 0;
            break;
        case FxCommand::Unload:
        case FxCommand::Quit: {
            CloseEditor();
            std::lock_guard<std::mutex> hold(effectLock);
            UnloadPlugin(host);
            answer.ok = 1;
            return call.command == FxCommand::Quit;
        }
        case FxCommand::None:
            break;
        }
        return false;
    }

  private:
    bool Load(const FxCall& call, FxAnswer& answer) {
        const wchar_t* path = reinterpret_cast<const wchar_t*>(shared->piece);
        if (wmemchr(path, L'\0', PATH_UNITS) == nullptr ||
            !LoadPlugin(host, path, call.sampleRate)) {
            return false;
        }
        answer.numInputs = host.effect->numInputs;
        answer.numOutputs = host.effect->numOutputs;
        answer.flags = host.effect->flags;
        return true;
    }

  public:
    uint32_t Fault() const { return host.fault.load(); }

    // The block lane's call, on its own thread.
    bool Block(const FxCall& call) {
        if (call.command != FxCommand::Block || call.frames > FX_MAX_FRAMES) {
            return false;
        }
        std::lock_guard<std::mutex> hold(effectLock);
        host.samplePosition.store(call.samplePosition);
        return ProcessWithPlugin(host, shared->input, shared->output, call.frames);
    }

    // While the editor is open: effEditIdle every EDITOR_IDLE_MS. How long the main thread may
    // wait before the next.
    uint32_t IdleEditor() {
        if (!editorOpen) {
            return IDLE_WAIT_MS;
        }
        const uint32_t since = TickCount() - lastIdle;
        if (since < EDITOR_IDLE_MS) {
            return EDITOR_IDLE_MS - since;
        }
        lastIdle = TickCount();
        CallDispatcher(host, host.effect, effEditIdle, 0, nullptr, 0.0f);
        return EDITOR_IDLE_MS;
    }

  private:
    // effEditGetRect before and after effEditOpen: effects differ in when they know their size,
    // and the later answer wins.
    bool OpenEditor(const FxCall& call, FxAnswer& answer) {
        if (host.effect == nullptr || (host.effect->flags & effFlagsHasEditor) == 0 || editorOpen) {
            return false;
        }
        bool sized = GetRect(answer.rect);
        CallDispatcher(host, host.effect, effEditOpen, 0,
                       reinterpret_cast<void*>(static_cast<intptr_t>(call.value)), 0.0f);
        sized = GetRect(answer.rect) || sized;
        editorOpen = host.fault.load() == 0;
        lastIdle = TickCount();
        return editorOpen && sized;
    }

    bool GetRect(ERect& rect) {
        void* out = nullptr;
        CallDispatcher(host, host.effect, effEditGetRect, 0, &out, 0.0f);
        return out != nullptr && GuardedCopy(host, &rect, out, sizeof(ERect));
    }

    void CloseEditor() {
        if (editorOpen) {
            editorOpen = false;
            CallDispatcher(host, host.effect, effEditClose, 0, nullptr, 0.0f);
        }
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
        const VstIntPtr result =
            CallDispatcher(host, host.effect, call.opcode, static_cast<VstIntPtr>(call.value), ptr,
                           call.opt, call.index);
        answer.result = result;
        answer.ok = 1;
        if (call.payload == FxPayload::ChunkOut) {
            staged.clear();
            if (out != nullptr && result > 0 &&
                static_cast<uint64_t>(result) <= FX_MAX_CHUNK_BYTES) {
                staged.resize(static_cast<size_t>(result));
                answer.ok = GuardedCopy(host, staged.data(), out, staged.size()) ? 1 : 0;
                answer.bytes = answer.ok != 0 ? static_cast<uint32_t>(result) : 0;
            }
        } else if (call.payload == FxPayload::RectOut) {
            answer.ok =
                out != nullptr && GuardedCopy(host, &answer.rect, out, sizeof(ERect)) ? 1 : 0;
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
    PluginHost host;
    std::vector<uint8_t> staged; // a chunk or a state, on its way in pieces
    std::mutex effectLock;       // held by a block, and by what changes the effect under it
    bool editorOpen = false;
    uint32_t lastIdle = 0;
};

// What the effect asks on its own goes into the caller's ring, from whichever thread it asks;
// a full ring drops it.
FxEventRing* eventRing = nullptr;
std::atomic_flag ringBusy = ATOMIC_FLAG_INIT;

bool TellCaller(const FxEvent& event) {
    while (ringBusy.test_and_set(std::memory_order_acquire)) {
    }
    const uint32_t written = eventRing->written.load(std::memory_order_relaxed);
    const bool room = written - eventRing->taken.load(std::memory_order_acquire) < FX_EVENT_SLOTS;
    if (room) {
        eventRing->slots[written % FX_EVENT_SLOTS] = event;
        eventRing->written.store(written + 1, std::memory_order_release);
    }
    ringBusy.clear(std::memory_order_release);
    return room;
}

// Answers one lane's call (numbered anew) and wakes the caller.
template <typename AnswerProc>
bool AnswerLane(const Server& server, FxLane& lane, WakeUp* toCaller, uint32_t& last,
                AnswerProc answer) {
    const uint32_t sequence = lane.call.sequence.load(std::memory_order_acquire);
    if (sequence == last) {
        return false;
    }
    last = sequence;
    const uint32_t start = PreciseTickCount();
    const bool quit = answer(lane.call, lane.answer);
    lane.answer.busyMs = PreciseTickCount() - start;
    lane.answer.fault = server.Fault();
    lane.answer.sequence.store(sequence, std::memory_order_release);
    WakeUpSignal(toCaller);
    return quit;
}

void ServeBlocks(Server* server, FxLane* lane, FxWakeUps* wakes, std::atomic<bool>* stop) {
    RunAtAudioPriority(); // the caller's audio thread waits on every block it serves
    uint32_t last = 0;
    while (!stop->load()) {
        if (WakeUpWait(&wakes->blockToHost, IDLE_WAIT_MS) && !stop->load()) {
            AnswerLane(*server, *lane, &wakes->blockToCaller, last,
                       [server](const FxCall& call, FxAnswer& a) {
                           a.ok = server->Block(call) ? 1 : 0;
                           return false;
                       });
        }
    }
}

} // namespace

bool ServeCalls(FxShared* shared, FxWakeUps* wakes) {
    if (shared->magic != FX_MAGIC || shared->layoutBytes != sizeof(FxShared)) {
        return false;
    }
    Server server(shared);
    eventRing = &shared->events;
    AnswerHostQuestionsFrom(&shared->values, TellCaller);
    std::atomic<bool> stop{false};
    std::thread blocks(ServeBlocks, &server, &shared->block, wakes, &stop);
    uint32_t last = 0;
    shared->control.answer.sequence.store(0, std::memory_order_release);
    WakeUpSignal(&wakes->controlToCaller);
    // The main thread: control calls, and the editor's windows and idle between them.
    for (bool quit = false; !quit;) {
        const uint32_t wait = server.IdleEditor();
        if (WakeUpWaitFor(&wakes->controlToHost, nullptr, wait, true) == WakeUpEnd::Signalled) {
            quit = AnswerLane(server, shared->control, &wakes->controlToCaller, last,
                              [&server](const FxCall& call, FxAnswer& answer) {
                                  return server.Answer(call, answer);
                              });
        }
    }
    stop.store(true);
    WakeUpSignal(&wakes->blockToHost);
    blocks.join();
    AnswerHostQuestionsFrom(nullptr, nullptr);
    return true;
}
