#include "plugin/fx_client.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr uint32_t SAMPLE_RATE_HZ = 44100;

std::atomic<uint32_t> nextSerial{1};

uint64_t Pack(EffectFault fault) {
    return (static_cast<uint64_t>(fault.kind) << 32) | fault.code;
}

// Keeps the first fault; a later one (the kill that follows a hang) changes nothing.
void Record(FxClient* client, EffectFault fault) {
    uint64_t none = 0;
    client->fault.compare_exchange_strong(none, Pack(fault));
}

void SetAhead(FxClient* client, bool ahead) {
    client->ahead = ahead;
    client->keptUpSince = 0;
    client->stats.ahead.store(ahead, std::memory_order_relaxed);
}

bool Faulted(const FxClient* client) {
    return client->fault.load() != 0;
}

void Release(FxClient* client) {
    for (FxCallerLane* lane : {&client->control, &client->block}) {
        WakeUpClose(&lane->toHost);
        WakeUpClose(&lane->toCaller);
    }
    SharedMemoryClose(&client->memory);
    client->shared = nullptr;
    ProcessRelease(&client->process);
}

EffectFault EndOf(const ChildProcess& process) {
    const ProcessEnd end = ProcessLook(&process);
    return {end.kind == ProcessEndKind::Crashed ? EffectFaultKind::Crashed
                                                : EffectFaultKind::Exited,
            end.code};
}

// A wake-up that answers nothing comes at most this often in one wait: the answer to a block
// given up earlier wakes the next block's wait. Another is the host breaking the transport (or an
// effect in it writing the caller's wake-ups), and waiting on would only spin.
constexpr uint32_t STRAY_WAKE_UPS = 1;

uint32_t NextSequence(uint32_t sequence) {
    return sequence + 1 != 0 && sequence + 1 != ~0u ? sequence + 1 : 1; // ~0: the start's mark
}

// The control lane's wait: false with the fault recorded and the process ended when no answer
// numbered sequence comes in time. A thread with windows keeps handling its messages.
bool AwaitControl(FxClient* client, uint32_t sequence, uint32_t limitMs) {
    const uint32_t start = TickCount();
    for (uint32_t strays = 0;;) {
        const uint32_t spent = TickCount() - start;
        const WakeUpEnd end = WakeUpWaitFor(&client->control.toCaller, &client->process,
                                            limitMs > spent ? limitMs - spent : 0u, true);
        if (end == WakeUpEnd::Signalled &&
            client->shared->control.answer.sequence.load(std::memory_order_acquire) == sequence) {
            return true;
        }
        if (end == WakeUpEnd::ProcessEnded) {
            Record(client, EndOf(client->process));
        } else if (end == WakeUpEnd::Signalled && ++strays > STRAY_WAKE_UPS) {
            Record(client, {EffectFaultKind::Broke, BREACH_WAKE_UPS});
        } else if (end == WakeUpEnd::TimedOut || TickCount() - start >= limitMs) {
            Record(client, {EffectFaultKind::Hung, limitMs});
        } else if (!Faulted(client)) {
            continue; // an answer to nothing this call waits for, with time left
        }
        ProcessKill(&client->process);
        return false;
    }
}

uint32_t BlockLengthMs(uint32_t frames) {
    return static_cast<uint32_t>((frames * 1000ull + SAMPLE_RATE_HZ - 1) / SAMPLE_RATE_HZ);
}

// An earlier block that was late: Answered once its answer is in, Late while the hang limit
// has not passed, Failed when the host ended or hung meanwhile.
FxBlockResult LookAtOutstanding(FxClient* client) {
    FxLane& lane = client->shared->block;
    if (lane.answer.sequence.load(std::memory_order_acquire) == client->outstanding) {
        client->outstanding = 0;
        if (lane.answer.fault != 0) {
            Record(client, {EffectFaultKind::Fault, lane.answer.fault});
            return FxBlockResult::Failed;
        }
        return FxBlockResult::Answered;
    }
    if (ProcessLook(&client->process).kind != ProcessEndKind::Running) {
        Record(client, EndOf(client->process));
        return FxBlockResult::Failed;
    }
    if (PreciseTickCount() - client->outstandingSince > client->outstandingHangMs) {
        Record(client, {EffectFaultKind::Hung, client->outstandingHangMs});
        return FxBlockResult::Failed;
    }
    return FxBlockResult::Late;
}

// What the host wrote is checked before anybody acts on it.
bool Sane(const FxEvent& event) {
    constexpr int32_t LARGEST_SIDE = 32767; // an ERect's own limit
    switch (event.kind) {
    case FxEventKind::SizeWindow:
        return event.width > 0 && event.width <= LARGEST_SIDE && event.height > 0 &&
               event.height <= LARGEST_SIDE;
    case FxEventKind::Automate:
        return std::isfinite(event.value);
    case FxEventKind::UpdateDisplay:
        return true;
    }
    return false;
}

// The answer to the block just sent, each field read once: the host may write it meanwhile.
FxBlockResult TakeBlockAnswer(FxClient* client, float* output, uint32_t frames) {
    const FxAnswer& answer = client->shared->block.answer;
    const uint32_t fault = answer.fault;
    if (fault != 0) {
        Record(client, {EffectFaultKind::Fault, fault});
        return FxBlockResult::Failed;
    }
    if (answer.ok == 0) {
        return FxBlockResult::Failed;
    }
    std::memcpy(output, client->shared->output, frames * 2 * sizeof(float));
    return FxBlockResult::Answered;
}

} // namespace

void FxTransportName(char* out, size_t size, uint32_t callerId, uint32_t serial, const char* part) {
    std::snprintf(out, size, "kawauso-fx-%u-%u%s", static_cast<unsigned>(callerId),
                  static_cast<unsigned>(serial), part);
}

EffectFault FxFaultOf(const FxClient* client) {
    const uint64_t packed = client->fault.load();
    return {static_cast<EffectFaultKind>(packed >> 32), static_cast<uint32_t>(packed)};
}

// A process that ended with this process's id (ids come back soon on Windows) may have left a
// host behind still holding its names: such a name is somebody else's, so the next one is tried.
constexpr uint32_t NAME_TRIES = 16;

// The shared block and its four wake-ups under a name nobody holds; false when none was free.
bool CreateTransport(FxClient* client, uint32_t callerId) {
    for (uint32_t attempt = 0; attempt < NAME_TRIES; ++attempt) {
        FxTransportName(client->name, sizeof client->name, callerId, nextSerial.fetch_add(1), "");
        if (!SharedMemoryCreate(&client->memory, client->name, sizeof(FxShared))) {
            continue;
        }
        FxShared* shared = static_cast<FxShared*>(client->memory.address);
        shared->magic = FX_MAGIC;
        shared->layoutBytes = sizeof(FxShared);
        shared->control.answer.sequence.store(~0u);
        shared->block.answer.sequence.store(~0u);
        client->shared = shared;
        struct Wake {
            WakeUp* wake;
            const char* part;
            uint32_t* word;
        } wakes[] = {{&client->control.toHost, "-go", &shared->control.toHost},
                     {&client->control.toCaller, "-done", &shared->control.toCaller},
                     {&client->block.toHost, "-bgo", &shared->block.toHost},
                     {&client->block.toCaller, "-bdone", &shared->block.toCaller}};
        bool created = true;
        for (const Wake& w : wakes) {
            char name[80];
            std::snprintf(name, sizeof name, "%s%s", client->name, w.part);
            created = created && WakeUpCreate(w.wake, name, w.word);
        }
        if (created) {
            return true;
        }
        SharedMemoryRemoveName(client->name);
        Release(client);
    }
    return false;
}

bool FxStart(FxClient* client, const char* hostProgram, const FxLimits& limits) {
    Release(client);
    client->control = client->block = FxCallerLane{};
    client->limits = limits;
    client->fault.store(0);
    client->controlWaiting.store(false);
    client->outstanding = 0;
    client->eventsTaken = 0;
    client->lateIndex = 0;
    SetAhead(client, limits.blockAhead);
    const uint32_t callerId = CurrentProcessId();
    const EffectFault notStarted = {EffectFaultKind::NotStarted, 0};
    if (!CreateTransport(client, callerId)) {
        Record(client, notStarted);
        return false;
    }
    char caller[16];
    std::snprintf(caller, sizeof caller, "%u", static_cast<unsigned>(callerId));
    const char* args[] = {client->name, caller};
    const bool started = ProcessStart(&client->process, hostProgram, args, 2);
    const bool answered = started && AwaitControl(client, 0, limits.startMs);
    client->startedAt = PreciseTickCount();
    SharedMemoryRemoveName(client->name); // both sides hold it now, or the host never will
    if (!started) {
        Release(client);
        Record(client, notStarted);
    }
    return answered;
}

bool FxExchange(FxClient* client, uint32_t limitMs) {
    if (client->shared == nullptr || Faulted(client) || client->controlWaiting.exchange(true)) {
        return false;
    }
    FxCallerLane& lane = client->control;
    lane.sequence = NextSequence(lane.sequence);
    client->shared->control.call.sequence.store(lane.sequence, std::memory_order_release);
    WakeUpSignal(&lane.toHost);
    const bool answered = AwaitControl(client, lane.sequence, limitMs);
    client->controlWaiting.store(false);
    return answered;
}

namespace {

// The block lane's times for blocks of frames.
struct BlockTimes {
    uint32_t waitMs, hangMs;
};

BlockTimes TimesFor(const FxClient* client, uint32_t frames) {
    const uint32_t length = BlockLengthMs(frames);
    const uint32_t hangMs = std::max(client->limits.hangMs, 2 * length);
    const uint32_t waitMs =
        client->limits.blockWaitMs != 0 ? client->limits.blockWaitMs : (length + 1) / 2;
    return {std::min(waitMs, hangMs), hangMs};
}

// Sends a block; it is outstanding until its answer is taken.
void SendBlock(FxClient* client, const float* input, uint32_t frames, int64_t samplePosition,
               uint32_t hangMs) {
    FxShared& shared = *client->shared;
    FxCallerLane& lane = client->block;
    std::memcpy(shared.input, input, frames * 2 * sizeof(float));
    shared.block.call.command = FxCommand::Block;
    shared.block.call.frames = frames;
    shared.block.call.samplePosition = samplePosition;
    lane.sequence = NextSequence(lane.sequence);
    shared.block.call.sequence.store(lane.sequence, std::memory_order_release);
    client->outstanding = lane.sequence;
    client->outstandingSince = PreciseTickCount();
    client->outstandingHangMs = hangMs;
    client->outstandingFrames = frames;
    client->outstandingFresh = true;
    WakeUpSignal(&lane.toHost);
}

// Waits from `from` up to waitMs for the outstanding block's answer: Answered (it is no longer
// outstanding), Late (still is), Failed (the host ended, hung or broke the transport).
FxBlockResult AwaitOutstanding(FxClient* client, uint32_t from, uint32_t waitMs) {
    const FxLane& shared = client->shared->block;
    FxCallerLane& lane = client->block;
    for (uint32_t strays = 0;;) {
        const uint32_t spent = PreciseTickCount() - from;
        const WakeUpEnd end = WakeUpWaitFor(&lane.toCaller, &client->process,
                                            waitMs >= spent ? waitMs + 1 - spent : 0u, false);
        if (shared.answer.sequence.load(std::memory_order_acquire) == client->outstanding) {
            client->outstanding = 0; // its wake-up, if not this one, is the next wait's stray
            return FxBlockResult::Answered;
        }
        if (end == WakeUpEnd::Signalled && ++strays > STRAY_WAKE_UPS) {
            Record(client, {EffectFaultKind::Broke, BREACH_WAKE_UPS});
            return FxBlockResult::Failed;
        }
        if (end == WakeUpEnd::ProcessEnded) {
            Record(client, EndOf(client->process));
            return FxBlockResult::Failed;
        }
        if (PreciseTickCount() - from <= waitMs) {
            continue; // ticks are whole milliseconds: the whole wait is over only past it
        }
        if (PreciseTickCount() - client->outstandingSince > client->outstandingHangMs) {
            Record(client, {EffectFaultKind::Hung, client->outstandingHangMs});
            return FxBlockResult::Failed;
        }
        return FxBlockResult::Late;
    }
}

// A block not answered in time; repeated, the lane goes a block ahead.
void NoteLate(FxClient* client) {
    client->stats.late.fetch_add(1, std::memory_order_relaxed);
    const uint32_t now = PreciseTickCount();
    const uint32_t oldest = client->lateTicks[client->lateIndex % LATE_TO_GO_AHEAD];
    client->lateTicks[client->lateIndex % LATE_TO_GO_AHEAD] = now;
    ++client->lateIndex;
    if (client->limits.aheadWhenLate && !client->ahead &&
        now - client->startedAt >= client->limits.warmUpMs &&
        client->lateIndex >= LATE_TO_GO_AHEAD && now - oldest <= AHEAD_WINDOW_MS) {
        SetAhead(client, true);
    }
}

// Ahead: whether the host has kept up long enough to go back.
bool KeptUp(FxClient* client, uint32_t waitMs) {
    const uint32_t busyMs = client->shared->block.answer.busyMs;
    const uint32_t now = PreciseTickCount() | 1u; // 0 is "not now"
    if (busyMs * 2 > waitMs) {
        client->keptUpSince = 0;
    } else if (client->keptUpSince == 0) {
        client->keptUpSince = now;
    }
    return !client->limits.blockAhead && client->keptUpSince != 0 &&
           now - client->keptUpSince >= client->limits.backAfterMs;
}

// Back from ahead: output holds the block before's answer; this block's own answer follows it,
// spliced in from it (the block between is never heard).
FxBlockResult GoBack(FxClient* client, const float* input, float* output, uint32_t frames,
                     int64_t samplePosition, const BlockTimes& times) {
    const uint32_t spliced = std::min(frames, FX_SPLICE_FRAMES);
    std::memcpy(client->splice, output, spliced * 2 * sizeof(float));
    SetAhead(client, false);
    SendBlock(client, input, frames, samplePosition, times.hangMs);
    const FxBlockResult own = AwaitOutstanding(client, client->outstandingSince, times.waitMs);
    if (own != FxBlockResult::Answered) {
        return own == FxBlockResult::Late ? FxBlockResult::Answered : own; // the one before plays
    }
    if (TakeBlockAnswer(client, output, frames) == FxBlockResult::Failed) {
        return FxBlockResult::Failed;
    }
    for (uint32_t i = 0; i < spliced * 2; ++i) {
        const float weight = static_cast<float>(i / 2 + 1) / static_cast<float>(spliced + 1);
        output[i] = client->splice[i] + (output[i] - client->splice[i]) * weight;
    }
    return FxBlockResult::Answered;
}

// Ahead, an answer is waited for as long as a block's is: the rest of the block is the
// stage's and the write's, and a wait of a whole block lets WinMM's queue run dry. One already
// too old to be played is only looked at.
uint32_t AheadWaitMs(const FxClient* client, const BlockTimes& times) {
    return client->outstandingFresh ? times.waitMs : 0;
}

// One block ahead: the answer to the block before is this block's output, and this block is
// sent to be the next one's. An answer that comes a block later than that is not played.
FxBlockResult AheadBlock(FxClient* client, const float* input, float* output, uint32_t frames,
                         int64_t samplePosition, const BlockTimes& times) {
    bool have = false;
    if (client->outstanding != 0) {
        const FxBlockResult earlier =
            AwaitOutstanding(client, PreciseTickCount(), AheadWaitMs(client, times));
        if (earlier == FxBlockResult::Late) {
            client->outstandingFresh = false;
            NoteLate(client);
        }
        if (earlier != FxBlockResult::Answered) {
            return earlier; // nothing sent: the host is still on that block
        }
        const uint32_t taken = std::min(frames, client->outstandingFrames);
        if (!client->outstandingFresh && client->shared->block.answer.fault != 0) {
            Record(client, {EffectFaultKind::Fault, client->shared->block.answer.fault});
            return FxBlockResult::Failed;
        }
        if (client->outstandingFresh) {
            if (TakeBlockAnswer(client, output, taken) == FxBlockResult::Failed) {
                return FxBlockResult::Failed;
            }
            std::memset(output + taken * 2, 0, (frames - taken) * 2 * sizeof(float));
            have = true;
            if (KeptUp(client, times.waitMs)) {
                return GoBack(client, input, output, frames, samplePosition, times);
            }
        }
    } else if (client->limits.blockAhead) {
        std::memset(output, 0, frames * 2 * sizeof(float)); // the first: nothing before it
        have = true;
    }
    SendBlock(client, input, frames, samplePosition, times.hangMs);
    return have ? FxBlockResult::Answered : FxBlockResult::Late;
}

} // namespace

FxBlockResult FxBlock(FxClient* client, const float* input, float* output, uint32_t frames,
                      int64_t samplePosition) {
    if (client->shared == nullptr || Faulted(client) || frames == 0 || frames > FX_MAX_FRAMES) {
        return FxBlockResult::Failed;
    }
    const BlockTimes times = TimesFor(client, frames);
    if (client->ahead) {
        return AheadBlock(client, input, output, frames, samplePosition, times);
    }
    if (client->outstanding != 0) {
        const FxBlockResult earlier = LookAtOutstanding(client);
        if (earlier == FxBlockResult::Late) {
            client->outstandingFresh = false; // sent two blocks ago: too old to be played
            NoteLate(client);
        }
        if (earlier != FxBlockResult::Answered) {
            return earlier;
        }
    }
    SendBlock(client, input, frames, samplePosition, times.hangMs);
    const FxBlockResult own = AwaitOutstanding(client, client->outstandingSince, times.waitMs);
    if (own == FxBlockResult::Answered) {
        return TakeBlockAnswer(client, output, frames);
    }
    if (own == FxBlockResult::Late) {
        NoteLate(client); // its answer, fresh, is the next block's once the lane goes ahead
    }
    return own;
}

namespace {

// One piece of the staged bytes across (from source when putting); false unless it was done.
bool ExchangePiece(FxClient* client, FxCommand command, uint32_t offset, uint32_t piece,
                   const uint8_t* source) {
    if (client->shared == nullptr || client->controlWaiting.load()) {
        return false; // the call's fields are another waiting call's
    }
    FxCall& call = client->shared->control.call;
    call.command = command;
    call.offset = offset;
    call.bytes = piece;
    if (source != nullptr && piece != 0) {
        std::memcpy(client->shared->piece, source, piece);
    }
    return FxExchange(client, client->limits.callMs) && client->shared->control.answer.ok != 0;
}

} // namespace

bool FxPutStaged(FxClient* client, const uint8_t* bytes, uint32_t size) {
    if (size > FX_MAX_STAGED_BYTES) {
        return false;
    }
    uint32_t offset = 0;
    do { // at least one piece: an empty one starts the staged bytes anew
        const uint32_t piece = std::min(FX_PIECE_BYTES, size - offset);
        if (!ExchangePiece(client, FxCommand::PutPiece, offset, piece, bytes + offset)) {
            return false;
        }
        offset += piece;
    } while (offset < size);
    return true;
}

bool FxTakeStaged(FxClient* client, uint32_t size, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (size > FX_MAX_STAGED_BYTES) {
        FxBreach(client, BREACH_SIZE);
        return false;
    }
    bytes.resize(size);
    for (uint32_t offset = 0; offset < size;) {
        const uint32_t piece = std::min(FX_PIECE_BYTES, size - offset);
        const bool taken = ExchangePiece(client, FxCommand::TakePiece, offset, piece, nullptr);
        if (taken && client->shared->control.answer.bytes != piece) {
            FxBreach(client, BREACH_SIZE);
        }
        if (!taken || Faulted(client)) {
            bytes.clear();
            return false;
        }
        std::memcpy(bytes.data() + offset, client->shared->piece, piece);
        offset += piece;
    }
    return true;
}

bool FxTakeEvent(FxClient* client, FxEvent* event) {
    if (client->shared == nullptr || Faulted(client)) {
        return false;
    }
    FxEventRing& ring = client->shared->events;
    const uint32_t written = ring.written.load(std::memory_order_acquire);
    if (written - client->eventsTaken > FX_EVENT_SLOTS) {
        FxBreach(client, BREACH_EVENTS);
        return false;
    }
    while (client->eventsTaken != written) {
        *event = ring.slots[client->eventsTaken % FX_EVENT_SLOTS]; // a copy, checked as it is
        ring.taken.store(++client->eventsTaken, std::memory_order_release);
        if (event->kind < FxEventKind::SizeWindow || event->kind > FxEventKind::UpdateDisplay) {
            FxBreach(client, BREACH_EVENTS);
            return false;
        }
        if (Sane(*event)) {
            return true;
        }
    }
    return false;
}

void FxBreach(FxClient* client, uint32_t rule) {
    Record(client, {EffectFaultKind::Broke, rule});
    ProcessKill(&client->process);
}

namespace {

// The host's own end after its Quit, the window's messages flowing meanwhile: an effect's
// editor closing in the host may still send its parent messages.
void WaitForEnd(FxClient* client, uint32_t limitMs) {
    const uint32_t start = TickCount();
    for (uint32_t spent = 0; spent < limitMs; spent = TickCount() - start) {
        if (WakeUpWaitFor(&client->control.toCaller, &client->process, limitMs - spent, true) ==
            WakeUpEnd::ProcessEnded) {
            return;
        }
    }
}

} // namespace

void FxStop(FxClient* client) {
    if (client->shared != nullptr && !Faulted(client)) {
        client->shared->control.call.command = FxCommand::Quit;
        if (FxExchange(client, client->limits.callMs)) {
            WaitForEnd(client, client->limits.callMs);
        }
    }
    ProcessKill(&client->process);
    Release(client);
}
