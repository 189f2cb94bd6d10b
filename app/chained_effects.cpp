#include "app/chained_effects.h"

#include <windows.h>

#include <vector>

#include "app/live_effect.h"
#include "app/plugin_commands.h"
#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "plugin/effect_handle.h"
#include "plugin/plugin_call_watch.h"
#include "settings/slot_plugin_files.h"

namespace {

struct ChainedLive {
    EffectHandle* handle = nullptr;
    std::wstring path;    // as the slot names it
    int32_t position = 0; // its place in the slot's chain, 1 to CHAINED_EFFECTS
    bool bypassed = false;
};

// In chain order, the first CHAINED_EFFECTS at most; none of them faulted when published.
std::vector<ChainedLive> chained;

bool Unfaulted(EffectHandle* handle) {
    return handle->fault(handle).kind == EffectFaultKind::None;
}

// As the first effect starts: loaded, given its kept state, sized for a running stream.
EffectHandle* StartChained(const ChainedEffect& wish, int32_t slotIndex, int32_t position) {
    EffectPlace place;
    ModuleMachine machine;
    const std::wstring path = PluginPathFromProgramFolder(wish.VstPath);
    EffectHandle* h = OpenLiveHandle(path.c_str(), wish.VstIsolated, place, machine);
    if (h == nullptr || !h->load(h, path.c_str(), static_cast<int32_t>(SAMPLE_RATE))) {
        CloseEffect(h);
        return nullptr;
    }
    std::vector<uint8_t> state;
    if (ReadSlotPluginState(slotIndex, wish.VstPath, state, position)) {
        h->restoreState(h, state); // one it refuses leaves its defaults, as for the first
    }
    if (running != 0 && Unfaulted(h)) {
        h->setBlockSize(h, FramesForBufferBytes(bufferBytes));
    }
    if (!Unfaulted(h)) {
        CloseEffect(h);
        return nullptr;
    }
    return h;
}

void AddName(std::wstring& names, const wchar_t* path) {
    names += (names.empty() ? L"" : L"\n") + std::wstring(FileNameOf(path));
}

// The slot's chain without the effect at index, the later ones moved up.
void DropFromSlot(SettingsSlot& slot, int32_t index) {
    for (int32_t i = index; i + 1 < CHAINED_EFFECTS; ++i) {
        slot.Chained[i] = slot.Chained[i + 1];
    }
    slot.Chained[CHAINED_EFFECTS - 1] = ChainedEffect{};
}

} // namespace

void LoadChainedEffects(SettingsSlot& slot, int32_t slotIndex, std::wstring& dropped) {
    UnloadChainedEffects();
    for (int32_t i = 0; i < CHAINED_EFFECTS && slot.Chained[i].VstPath[0] != L'\0';) {
        EffectHandle* h = StartChained(slot.Chained[i], slotIndex, i + 1);
        if (h == nullptr) {
            AddName(dropped, slot.Chained[i].VstPath);
            DropFromSlot(slot, i);
            continue;
        }
        chained.push_back({h, slot.Chained[i].VstPath, i + 1, slot.Chained[i].VstBypassed});
        ++i;
    }
}

void UnloadChainedEffects() {
    for (ChainedLive& effect : chained) {
        CloseEffect(effect.handle);
    }
    chained.clear();
}

void PublishLiveChain() {
    ChainLink links[MAX_CHAIN_EFFECTS];
    uint32_t count = 0;
    if (EffectHandle* first = LiveFirstEffectForBlocks()) {
        links[count++] = {first, currentSlot->VstBypassed};
    }
    for (const ChainedLive& effect : chained) {
        links[count++] = {effect.handle, effect.bypassed};
    }
    SetBlockEffects(links, count);
}

bool TakeOutFaultedChainedEffects(SettingsSlot& slot, std::wstring& named) {
    std::vector<size_t> faulted;
    for (size_t i = 0; i < chained.size(); ++i) {
        if (!Unfaulted(chained[i].handle)) {
            faulted.push_back(i);
        }
    }
    if (faulted.empty()) {
        return false;
    }
    // Out of the blocks first: a block still inside one ends within its limit (a hung one in
    // this process was given up already).
    SetBlockEffect(nullptr);
    while (PluginCallRunning()) {
        Sleep(1);
    }
    for (auto i = faulted.rbegin(); i != faulted.rend(); ++i) {
        AddName(named, chained[*i].path.c_str());
        if (InProcessHostOf(chained[*i].handle) != nullptr &&
            chained[*i].handle->fault(chained[*i].handle).kind == EffectFaultKind::Fault) {
            slot.Chained[chained[*i].position - 1].VstIsolated = true; // as the first effect
        }
        CloseEffect(chained[*i].handle);
        chained.erase(chained.begin() + static_cast<std::ptrdiff_t>(*i));
    }
    PublishLiveChain();
    if (LiveEffectLoaded()) {
        pluginActive.store(1); // a fault in this process switched the whole chain off
    }
    return true;
}

void KeepChainedEffectStates(const SettingsSlot& slot, int32_t slotIndex) {
    for (int32_t position = 1; position <= CHAINED_EFFECTS; ++position) {
        const ChainedLive* live = nullptr;
        for (const ChainedLive& effect : chained) {
            live = effect.position == position ? &effect : live;
        }
        std::vector<uint8_t> state;
        if (live == nullptr && slot.Chained[position - 1].VstPath[0] != L'\0') {
            continue; // taken out after a fault: the slot keeps it, and the state it last kept
        }
        if (live == nullptr || !live->handle->captureState(live->handle, state) ||
            !WriteSlotPluginState(slotIndex, live->path.c_str(), state, position)) {
            DeleteSlotPluginState(slotIndex, position);
        }
    }
}

uint32_t ChainedEffectCount() {
    return static_cast<uint32_t>(chained.size());
}
