#include "app/live_effect.h"

#include <windows.h>

#include <string>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "platform/child_process.h"
#include "plugin/effect_handle.h"
#include "plugin/module_machine.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_state.h"
#include "plugin/restart_policy.h"

namespace {

struct LiveEffect {
    EffectPlace place = EffectPlace::InProcess;  // where the last load went
    ModuleMachine machine = ModuleMachine::I386; // what its header said
    bool inProcess = false;                      // the process-wide host holds it
    EffectHandle* handle = nullptr;              // or a host process does
    bool hostRunning = false;                    // and that one loaded it
    std::wstring path;                           // as it was loaded, for a restart
    std::vector<uint8_t> lastState;              // an isolated effect's state as last taken
    bool stateKnown = false;
    EffectRestartPolicy restarts;
    uint32_t restartCount = 0;  // over the program's life, for the About box
    uint32_t pendingFrames = 0; // a sizing asked while a call waited, 0 none
};

LiveEffect live;

std::string Utf8(const std::wstring& text) {
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? static_cast<size_t>(bytes) : 1u, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

bool Healthy(EffectHandle* handle) {
    return handle->fault(handle).kind == EffectFaultKind::None;
}

// The handle's host loads the effect and gets state; it is sized for a running stream.
bool StartHost(const std::vector<uint8_t>* state) {
    EffectHandle* h = live.handle;
    if (!h->load(h, live.path.c_str(), static_cast<int32_t>(SAMPLE_RATE))) {
        return false;
    }
    if (state != nullptr && !state->empty() &&
        h->restoreState(h, *state) != StateRestore::Restored && Healthy(h)) {
        DebugOutput(
            L"Kawauso04: the kept plug-in state was refused; the effect keeps its defaults\n");
    }
    if (!Healthy(h)) {
        return false; // faulted while its state went back
    }
    TakeLiveEffectState();
    if (running != 0) {
        h->setBlockSize(h, FramesForBufferBytes(bufferBytes));
    }
    return Healthy(h);
}

// No block reaches the handle once this returns.
void TakeHandleFromBlocks() {
    SetBlockEffect(nullptr);
    while (BlockInsideEffectHandle()) {
        Sleep(1);
    }
}

} // namespace

bool LoadLiveEffect(const wchar_t* path, bool isolated, const std::vector<uint8_t>* state) {
    UnloadLiveEffect();
    live.restarts.Reset();
    live.path = path;
    uint16_t machine = 0;
    live.machine = ReadModuleMachine(Utf8(path).c_str(), &machine);
    const EffectPlace place = ChooseEffectPlace(live.machine, isolated);
    live.place = place;
    if (place == EffectPlace::Refused) {
        return false;
    }
    if (place == EffectPlace::InProcess) {
        live.inProcess = LoadPlugin(path, static_cast<int32_t>(SAMPLE_RATE));
        if (live.inProcess && state != nullptr &&
            RestoreEffectState(*state) != StateRestore::Restored) {
            DebugOutput(
                L"Kawauso04: the kept plug-in state was refused; the effect keeps its defaults\n");
        }
        return live.inProcess;
    }
    const std::string host = ProgramFolderUtf8() + "\\" + FxHostFileName(place);
    live.handle = OpenHostProcessEffect(host.c_str(), FxLimits()); // a block within its time
    live.hostRunning = StartHost(state); // on failure the handle stays, for the fault it tells
    if (live.hostRunning) {
        SetBlockEffect(live.handle);
    }
    return live.hostRunning;
}

void UnloadLiveEffect() {
    UnloadPlugin(); // with nothing of its own loaded, the host releases its buffers
    live.inProcess = false;
    if (live.handle != nullptr) {
        TakeHandleFromBlocks();
        CloseEffect(live.handle);
        live.handle = nullptr;
        live.hostRunning = false;
    }
    live.pendingFrames = 0;
    live.lastState.clear();
    live.stateKnown = false;
}

bool LiveEffectLoaded() {
    if (live.handle != nullptr) {
        return live.hostRunning && Healthy(live.handle);
    }
    return live.inProcess && effect != nullptr && effectFault.load() == 0;
}

bool LiveEffectHeld() {
    return live.inProcess || live.hostRunning;
}

bool LiveEffectInProcess() {
    return live.place == EffectPlace::InProcess;
}

bool LiveEffectRefused(ModuleMachine* why) {
    *why = live.machine;
    return live.place == EffectPlace::Refused;
}

bool LiveEffectIsolated() {
    return live.handle != nullptr && live.hostRunning;
}

void SizeLiveEffect(uint32_t frames) {
    if (live.handle == nullptr || !Healthy(live.handle)) {
        return;
    }
    if (EffectCallUnderWay(live.handle)) {
        live.pendingFrames = frames; // refused now, it would leave the host declining every block
        return;
    }
    live.pendingFrames = 0;
    live.handle->setBlockSize(live.handle, frames);
}

void SizeLiveEffectAsAsked() {
    if (live.pendingFrames != 0) {
        SizeLiveEffect(live.pendingFrames);
    }
}

bool LiveEffectCallUnderWay() {
    return EffectCallUnderWay(live.handle);
}

bool CaptureLiveEffectState(std::vector<uint8_t>& state) {
    if (live.handle == nullptr) {
        return CaptureEffectState(state);
    }
    TakeLiveEffectState();
    state = live.lastState;
    return live.stateKnown;
}

void TakeLiveEffectState() {
    EffectHandle* h = live.handle;
    std::vector<uint8_t> state;
    if (h != nullptr && Healthy(h) && h->captureState(h, state) && Healthy(h)) {
        live.lastState.swap(state);
        live.stateKnown = true;
    }
}

EffectFault LiveEffectFault() {
    if (live.handle != nullptr) {
        return live.handle->fault(live.handle);
    }
    const uint32_t code = effectFault.load();
    if (code == 0 || live.place != EffectPlace::InProcess) {
        return {};
    }
    return {code == EFFECT_HUNG ? EffectFaultKind::Hung : EffectFaultKind::Fault, code};
}

uint32_t FaultCodeToName(const EffectFault& fault) {
    const bool coded = fault.kind == EffectFaultKind::Fault ||
                       fault.kind == EffectFaultKind::Crashed ||
                       fault.kind == EffectFaultKind::Exited;
    return coded && fault.code != 0 ? fault.code : EFFECT_HUNG;
}

bool RestartLiveEffect(uint32_t now, EffectFault& why) {
    EffectHandle* h = live.handle;
    if (h == nullptr || !live.hostRunning) {
        return false;
    }
    why = h->fault(h);
    TakeHandleFromBlocks();
    h->unload(h); // its host ends for good; the next load starts a new one
    while (live.restarts.TryRestart(now)) {
        if (StartHost(live.stateKnown ? &live.lastState : nullptr)) {
            ++live.restartCount; // counted once its host runs it: a start that failed is no restart
            SetBlockEffect(h);
            return true;
        }
        why = h->fault(h);
        h->unload(h);
        now = GetTickCount();
    }
    UnloadLiveEffect();
    return false;
}

EffectBlockStats LiveEffectBlockStats() {
    return live.handle != nullptr ? live.handle->blockStats(live.handle)
                                  : EffectBlockStats{0, false};
}

uint32_t EffectRestarts() {
    return live.restartCount;
}

void ResetLiveEffect() {
    UnloadLiveEffect();
    live = LiveEffect();
}

EffectHandle* LiveEffectHandle() {
    return live.handle;
}
