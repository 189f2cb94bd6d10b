#include "plugin/fx_client.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// How often a wait looks whether the process still runs: its end is noticed within this.
constexpr uint32_t LOOK_MS = 20;

std::atomic<uint32_t> nextSerial{1};

void Release(FxClient* client) {
    WakeUpClose(&client->toHost);
    WakeUpClose(&client->toCaller);
    SharedMemoryClose(&client->memory);
    client->shared = nullptr;
    ProcessRelease(&client->process);
}

// The end of the host process as the caller tells it; then nothing of it is kept.
bool GiveUp(FxClient* client, EffectFault fault) {
    ProcessKill(&client->process);
    client->fault = fault;
    Release(client);
    return false;
}

EffectFault EndOf(const ChildProcess& process) {
    const ProcessEnd end = ProcessResult(&process);
    return {end.kind == ProcessEndKind::Crashed ? EffectFaultKind::Crashed
                                                : EffectFaultKind::Exited,
            end.code};
}

// Waits for an answer numbered sequence; false with the fault when there is none in time.
bool AwaitAnswer(FxClient* client, uint32_t sequence, uint32_t limitMs) {
    const uint32_t start = TickCount();
    for (;;) {
        const uint32_t spent = TickCount() - start;
        const uint32_t slice = std::min(LOOK_MS, limitMs > spent ? limitMs - spent : 0u);
        if (WakeUpWait(&client->toCaller, slice)) {
            if (client->shared->answer.sequence.load(std::memory_order_acquire) == sequence) {
                return true;
            }
            continue; // an answer to nothing the caller waits for
        }
        if (ProcessWait(&client->process, 0)) {
            return GiveUp(client, EndOf(client->process));
        }
        if (TickCount() - start >= limitMs) {
            return GiveUp(client, {EffectFaultKind::Hung, limitMs});
        }
    }
}

} // namespace

void FxTransportName(char* out, size_t size, uint32_t callerId, uint32_t serial, const char* part) {
    std::snprintf(out, size, "kawauso-fx-%u-%u%s", static_cast<unsigned>(callerId),
                  static_cast<unsigned>(serial), part);
}

bool FxStart(FxClient* client, const char* hostProgram, const FxLimits& limits) {
    *client = FxClient{};
    client->limits = limits;
    const uint32_t callerId = CurrentProcessId();
    FxTransportName(client->name, sizeof client->name, callerId, nextSerial.fetch_add(1), "");
    char toHostName[80], toCallerName[80];
    std::snprintf(toHostName, sizeof toHostName, "%s-go", client->name);
    std::snprintf(toCallerName, sizeof toCallerName, "%s-done", client->name);
    if (!SharedMemoryCreate(&client->memory, client->name, sizeof(FxShared))) {
        client->fault = {EffectFaultKind::NotStarted, 0};
        return false;
    }
    FxShared* shared = static_cast<FxShared*>(client->memory.address);
    shared->magic = FX_MAGIC;
    shared->layoutBytes = sizeof(FxShared);
    shared->answer.sequence.store(~0u);
    client->shared = shared;
    if (!WakeUpCreate(&client->toHost, toHostName, &shared->toHost) ||
        !WakeUpCreate(&client->toCaller, toCallerName, &shared->toCaller)) {
        SharedMemoryRemoveName(client->name);
        Release(client);
        client->fault = {EffectFaultKind::NotStarted, 0};
        return false;
    }
    char caller[16];
    std::snprintf(caller, sizeof caller, "%u", static_cast<unsigned>(callerId));
    const char* args[] = {client->name, caller};
    const bool started = ProcessStart(&client->process, hostProgram, args, 2);
    const bool answered = started && AwaitAnswer(client, 0, limits.startMs);
    SharedMemoryRemoveName(client->name); // both sides hold it now, or the host never will
    if (!started) {
        Release(client);
        client->fault = {EffectFaultKind::NotStarted, 0};
    }
    return answered;
}

bool FxExchange(FxClient* client, uint32_t limitMs) {
    if (client->shared == nullptr) {
        return false;
    }
    client->sequence =
        client->sequence + 1 != 0 && client->sequence + 1 != ~0u ? client->sequence + 1 : 1;
    client->shared->call.sequence.store(client->sequence, std::memory_order_release);
    WakeUpSignal(&client->toHost);
    return AwaitAnswer(client, client->sequence, limitMs);
}

bool FxPutStaged(FxClient* client, const uint8_t* bytes, uint32_t size) {
    if (size > FX_MAX_STAGED_BYTES) {
        return false;
    }
    uint32_t offset = 0;
    do { // at least one piece: an empty one starts the staged bytes anew
        const uint32_t piece = std::min(FX_PIECE_BYTES, size - offset);
        if (client->shared == nullptr) {
            return false;
        }
        FxCall& call = client->shared->call;
        call.command = FxCommand::PutPiece;
        call.offset = offset;
        call.bytes = piece;
        if (piece != 0) {
            std::memcpy(client->shared->piece, bytes + offset, piece);
        }
        if (!FxExchange(client, client->limits.callMs) || client->shared->answer.ok == 0) {
            return false;
        }
        offset += piece;
    } while (offset < size);
    return true;
}

bool FxTakeStaged(FxClient* client, uint32_t size, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (size > FX_MAX_STAGED_BYTES) {
        return false;
    }
    bytes.resize(size);
    for (uint32_t offset = 0; offset < size;) {
        const uint32_t piece = std::min(FX_PIECE_BYTES, size - offset);
        if (client->shared == nullptr) {
            return false;
        }
        FxCall& call = client->shared->call;
        call.command = FxCommand::TakePiece;
        call.offset = offset;
        call.bytes = piece;
        if (!FxExchange(client, client->limits.callMs) || client->shared->answer.ok == 0 ||
            client->shared->answer.bytes != piece) {
            bytes.clear();
            return false;
        }
        std::memcpy(bytes.data() + offset, client->shared->piece, piece);
        offset += piece;
    }
    return true;
}

void FxStop(FxClient* client) {
    if (client->shared != nullptr) {
        client->shared->call.command = FxCommand::Quit;
        if (FxExchange(client, client->limits.callMs)) {
            ProcessWait(&client->process, client->limits.callMs);
        }
    }
    ProcessKill(&client->process);
    Release(client);
}
