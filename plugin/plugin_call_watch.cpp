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

constexpr PluginCallTicket NO_CALL = {0, 0};

} // namespace

uint32_t PluginHangLimitMs(uint32_t bufferMs) {
    const uint32_t buffers = bufferMs * HANG_LIMIT_BUFFERS;
    return buffers > pluginHangFloorMs ? buffers : pluginHangFloorMs;
}

PluginCallTicket BeginPluginCall() {
    lastSequence = lastSequence + 1 != 0 ? lastSequence + 1 : 1;
    const PluginCallTicket ticket = {TickCount(), lastSequence};
    runningCall.store(ticket);
    return ticket;
}

bool EndPluginCall(PluginCallTicket ticket) {
    return runningCall.compare_exchange_strong(ticket, NO_CALL);
}

bool PluginCallRunning() {
    return runningCall.load().sequence != 0;
}

bool GiveUpPluginCallAfter(uint32_t limitMs) {
    PluginCallTicket call = runningCall.load();
    if (call.sequence == 0 || TickCount() - call.startTick < limitMs ||
        !runningCall.compare_exchange_strong(call, NO_CALL)) {
        return false;
    }
    RecordEffectFault(EFFECT_HUNG);
    for (float*& buffer : pluginBuffers) {
        buffer = nullptr;
    }
    sizedInputs = 0;
    sizedOutputs = 0;
    return true;
}
