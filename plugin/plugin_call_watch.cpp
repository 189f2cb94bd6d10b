#include "plugin/plugin_call_watch.h"

#include <atomic>

#include "platform/platform.h"
#include "plugin/plugin_host.h"

uint32_t pluginHangFloorMs = 2000;

namespace {

constexpr uint32_t HANG_LIMIT_BUFFERS = 2;

// The running call, or {0, 0}. One 8-byte atomic, so that the audio thread's "done" and the
// window thread's "given up" are two compare-exchanges on the same ticket: exactly one wins.
std::atomic<PluginCallTicket> runningCall{PluginCallTicket{0, 0}};
uint32_t lastSequence = 0; // audio thread only
// The in-process host the running call is in, null for none (an effect in a host process).
std::atomic<PluginHost*> runningHost{nullptr};

constexpr PluginCallTicket NO_CALL = {0, 0};
constexpr uint32_t RETURNED = 0x80000000u; // in a ticket's sequence: settled, never given up
constexpr uint32_t SEQUENCE_MASK = RETURNED - 1;

// The marking thread's own view of its call: the ticket as it stands in runningCall (NO_CALL
// when it marked none), and whether it found the call given up when it settled.
thread_local PluginCallTicket ownCall = NO_CALL;
thread_local bool ownCallLost = false;

bool operator==(PluginCallTicket a, PluginCallTicket b) {
    return a.startTick == b.startTick && a.sequence == b.sequence;
}

} // namespace

uint32_t PluginHangLimitMs(uint32_t bufferMs) {
    const uint32_t buffers = bufferMs * HANG_LIMIT_BUFFERS;
    return buffers > pluginHangFloorMs ? buffers : pluginHangFloorMs;
}

PluginCallTicket BeginPluginCall() {
    lastSequence = lastSequence < SEQUENCE_MASK ? lastSequence + 1 : 1;
    const PluginCallTicket ticket = {TickCount(), lastSequence};
    runningHost.store(nullptr);
    runningCall.store(ticket);
    ownCall = ticket;
    ownCallLost = false;
    return ticket;
}

void NamePluginCallHost(PluginHost* host) {
    runningHost.store(host);
}

bool SettlePluginCall() {
    if (ownCallLost || ownCall.sequence == 0 || (ownCall.sequence & RETURNED) != 0) {
        return !ownCallLost;
    }
    PluginCallTicket expected = ownCall;
    const PluginCallTicket returned = {ownCall.startTick, ownCall.sequence | RETURNED};
    if (runningCall.compare_exchange_strong(expected, returned)) {
        ownCall = returned;
        return true;
    }
    ownCall = NO_CALL;
    ownCallLost = true;
    return false;
}

bool PluginCallGivenUp() {
    return ownCallLost || (ownCall.sequence != 0 && !(runningCall.load() == ownCall));
}

bool EndPluginCall(PluginCallTicket ticket) {
    const bool lost = ownCallLost;
    PluginCallTicket expected = (ownCall.sequence & RETURNED) != 0 ? ownCall : ticket;
    ownCall = NO_CALL;
    ownCallLost = false;
    return !lost && runningCall.compare_exchange_strong(expected, NO_CALL);
}

bool PluginCallRunning() {
    return runningCall.load().sequence != 0;
}

bool GiveUpPluginCallAfter(uint32_t limitMs) {
    PluginCallTicket call = runningCall.load();
    if (call.sequence == 0 || (call.sequence & RETURNED) != 0 ||
        TickCount() - call.startTick < limitMs ||
        !runningCall.compare_exchange_strong(call, NO_CALL)) {
        return false;
    }
    PluginHost* const host = runningHost.exchange(nullptr);
    if (host != nullptr) {
        RecordEffectFault(*host, EFFECT_HUNG);
        for (float*& buffer : host->buffers) {
            buffer = nullptr;
        }
        host->sizedInputs = 0;
        host->sizedOutputs = 0;
    }
    return true;
}
