#include "app/live_effect.h"

#include "app/chained_effects.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "platform/child_process.h"
#include "plugin/effect_handle.h"
#include "plugin/module_machine.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/restart_policy.h"

namespace {

struct LiveEffect {
    EffectPlace place = EffectPlace::InProcess;  // where the last load went
    ModuleMachine machine = ModuleMachine::I386; // what its header said
    EffectHandle* handle = nullptr;              // from the last load to the unload
    bool held = false;                           // and that load succeeded
    std::wstring path;                           // as it was loaded, for a restart
    std::vector<uint8_t> lastState;              // an isolated effect's state as last taken
    bool stateKnown = false;
    EffectRestartPolicy restarts;
    uint32_t restartCount = 0; // over the program's life, for the About box
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

// A handle of a host process of its own (loaded or not).
bool HandleIsolated() {
    return live.handle != nullptr && live.place != EffectPlace::InProcess;
}

// The handle loads the effect and gives it state; it is sized for a running stream (taken
// away from the blocks meanwhile: an in-process effect's buffers are made anew). True once
// loaded: a fault after that (its state, its sizing) is the caller's to find.
bool StartHost(const std::vector<uint8_t>* state) {
    EffectHandle* h = live.handle;
    if (!h->load(h, live.path.c_str(), static_cast<int32_t>(SAMPLE_RATE))) {
        return false;
    }
    if (state != nullptr && !state->empty() &&
        h->restoreState(h, *state) != StateRestore::Restored && EffectHealthy(h)) {
        DebugOutput(
            L"Kawauso04: the kept plug-in state was refused; the effect keeps its defaults\n");
    }
    if (EffectHealthy(h)) {
        TakeLiveEffectState();
    }
    if (running != 0 && EffectHealthy(h)) {
        h->setBlockSize(h, FramesForBufferBytes(bufferBytes));
    }
    return true;
}

} // namespace

ModuleMachine ModuleMachineOf(const wchar_t* path) {
    uint16_t code = 0;
    return ReadModuleMachine(Utf8(path).c_str(), &code);
}

EffectHandle* OpenLiveHandle(const wchar_t* path, bool isolated, EffectPlace& place,
                             ModuleMachine& machine) {
    machine = ModuleMachineOf(path);
    place = ChooseEffectPlace(machine, isolated);
    if (place == EffectPlace::Refused) {
        return nullptr;
    }
    if (place != EffectPlace::InProcess) {
        const std::string host = ProgramFolderUtf8() + "\\" + FxHostFileName(place);
        return OpenHostProcessEffect(host.c_str(), FxLimits()); // a block within its time
    }
    return OpenInProcessEffect();
}

bool LoadLiveEffect(const wchar_t* path, bool isolated, const std::vector<uint8_t>* state) {
    UnloadLiveEffect();
    live.restarts.Reset();
    live.path = path;
    live.handle = OpenLiveHandle(path, isolated, live.place, live.machine);
    if (live.handle == nullptr) {
        return false;
    }
    live.held = StartHost(state); // on failure the handle stays, for the fault it tells
    if (live.held) {
        PublishLiveChain();
    }
    return live.held;
}

void UnloadLiveEffect() {
    if (live.handle != nullptr) {
        TakeEffectsFromBlocks();
        live.handle->unload(live.handle); // in this process it closes the editor too
        CloseEditor();                    // ours, which held a host process's
        CloseEffect(live.handle);
        live.handle = nullptr;
    }
    live.held = false;
    live.lastState.clear();
    live.stateKnown = false;
}

bool LiveEffectLoaded() {
    return live.held && EffectHealthy(live.handle);
}

bool LiveEffectHeld() {
    return live.held;
}

bool LiveEffectInProcess() {
    return live.place == EffectPlace::InProcess;
}

bool LiveEffectInOtherHost() {
    return live.place == EffectPlace::OtherHost;
}

bool LiveEffectRefused(ModuleMachine* why) {
    *why = live.machine;
    return live.place == EffectPlace::Refused;
}

bool LiveEffectIsolated() {
    return live.held && HandleIsolated();
}

bool LiveEffectCallUnderWay() {
    return EffectCallUnderWay(live.handle);
}

bool CaptureLiveEffectState(std::vector<uint8_t>& state) {
    EffectHandle* h = live.handle;
    if (!HandleIsolated()) {
        return live.held && h->captureState(h, state);
    }
    TakeLiveEffectState();
    state = live.lastState;
    return live.stateKnown;
}

void TakeLiveEffectState() {
    EffectHandle* h = live.handle;
    std::vector<uint8_t> state;
    if (HandleIsolated() && EffectHealthy(h) && h->captureState(h, state) && EffectHealthy(h)) {
        live.lastState.swap(state);
        live.stateKnown = true;
    }
}

EffectFault LiveEffectFault() {
    return live.handle != nullptr ? live.handle->fault(live.handle) : EffectFault{};
}

uint32_t FaultCodeToName(const EffectFault& fault) {
    const bool coded = fault.kind == EffectFaultKind::Fault ||
                       fault.kind == EffectFaultKind::Crashed ||
                       fault.kind == EffectFaultKind::Exited;
    return coded && fault.code != 0 ? fault.code : EFFECT_HUNG;
}

bool RestartLiveEffect(uint32_t now, EffectFault& why) {
    EffectHandle* h = live.handle;
    if (!LiveEffectIsolated()) {
        return false;
    }
    why = h->fault(h);
    TakeEffectsFromBlocks();
    h->unload(h); // its host ends for good; the next load starts a new one
    while (live.restarts.TryRestart(now)) {
        if (StartHost(live.stateKnown ? &live.lastState : nullptr) && EffectHealthy(h)) {
            ++live.restartCount; // counted once its host runs it: a start that failed is no restart
            PublishLiveChain();
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
    UnloadChainedEffects();
    live = LiveEffect();
}

EffectHandle* ExchangeLiveEffect(EffectHandle* handle, const std::wstring& path, bool isolated,
                                 bool& wasIsolated) {
    EffectHandle* const old = live.handle;
    wasIsolated = HandleIsolated();
    live.handle = handle;
    live.path = path;
    live.machine = ModuleMachineOf(path.c_str());
    live.place = isolated ? ChooseEffectPlace(live.machine, true) : EffectPlace::InProcess;
    live.restarts.Reset();
    live.lastState.clear();
    live.stateKnown = false;
    TakeLiveEffectState(); // what a restart of an isolated one comes back with
    return old;
}

void TakeEffectsFromBlocks() {
    SetBlockEffect(nullptr);
    WaitForNoEffectCall();
}

void WaitForNoEffectCall() {
    while (PluginCallRunning()) {
        Sleep(1);
    }
}

void WaitForChainChange() {
    // Two blocks' time covers one already under way; longer blocks (up to seconds) are not
    // waited for: the window must answer, and the change then goes in without its fade.
    constexpr uint32_t SLACK_MS = 50;
    constexpr uint32_t LONGEST_WAIT_MS = 300;
    if (running != 0) {
        const uint32_t blockMs = FramesForBufferBytes(bufferBytes) * 1000 / SAMPLE_RATE;
        const uint32_t limit = std::min(2 * blockMs + SLACK_MS, LONGEST_WAIT_MS);
        const DWORD start = GetTickCount();
        while (BlockEffectsChangePending() && GetTickCount() - start < limit) {
            Sleep(1);
        }
    }
    SettleBlockEffects();
}

EffectHandle* LiveEffectHandle() {
    return live.handle;
}

EffectHandle* LiveFirstEffectForBlocks() {
    return live.held && EffectHealthy(live.handle) ? live.handle : nullptr;
}
