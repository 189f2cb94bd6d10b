#include "app/chained_effects.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

#include "app/live_effect.h"
#include "app/plugin_commands.h"
#include "app/texts.h"
#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "audio/engine_state.h"
#include "plugin/effect_handle.h"
#include "settings/settings_store.h"
#include "settings/slot_plugin_files.h"

namespace {

struct ChainedLive {
    EffectHandle* handle = nullptr;
    std::wstring path;    // as the slot names it
    int32_t position = 0; // its place in the slot's chain, 1 to CHAINED_EFFECTS
    bool bypassed = false;
    bool isolated = false; // runs in a host process of its own
};

// In chain order, the first CHAINED_EFFECTS at most; none of them faulted when published.
std::vector<ChainedLive> chained;

// How often each chained effect was taken out, by its path, over the program's life.
struct TakenOut {
    std::wstring path;
    uint32_t count;
};
std::vector<TakenOut> takenOut;

void CountTakenOut(const std::wstring& path) {
    for (TakenOut& entry : takenOut) {
        if (entry.path == path) {
            ++entry.count;
            return;
        }
    }
    takenOut.push_back({path, 1});
}

uint32_t TimesTakenOut(const wchar_t* path) {
    for (const TakenOut& entry : takenOut) {
        if (entry.path == path) {
            return entry.count;
        }
    }
    return 0;
}

// As the first effect starts: loaded, given its kept state, sized for a running stream.
EffectHandle* StartChained(const ChainedEffect& wish, int32_t slotIndex, int32_t position,
                           bool& isolated) {
    EffectPlace place = EffectPlace::Refused;
    ModuleMachine machine;
    const std::wstring path = PluginPathFromProgramFolder(wish.VstPath);
    EffectHandle* h = OpenLiveHandle(path.c_str(), wish.VstIsolated, place, machine);
    isolated = place != EffectPlace::InProcess;
    if (h == nullptr || !h->load(h, path.c_str(), static_cast<int32_t>(SAMPLE_RATE))) {
        CloseEffect(h);
        return nullptr;
    }
    std::vector<uint8_t> state;
    if (ReadSlotPluginState(slotIndex, wish.VstPath, state, position)) {
        h->restoreState(h, state); // one it refuses leaves its defaults, as for the first
    }
    if (running != 0 && EffectHealthy(h)) {
        h->setBlockSize(h, FramesForBufferBytes(bufferBytes));
    }
    if (!EffectHealthy(h)) {
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
        bool isolated = false;
        EffectHandle* h = StartChained(slot.Chained[i], slotIndex, i + 1, isolated);
        if (h == nullptr) {
            AddName(dropped, slot.Chained[i].VstPath);
            DropFromSlot(slot, i);
            continue;
        }
        chained.push_back(
            {h, slot.Chained[i].VstPath, i + 1, slot.Chained[i].VstBypassed, isolated});
        ++i;
    }
}

void UnloadChainedEffects() {
    if (!chained.empty()) {
        TakeEffectsFromBlocks(); // the blocks hold them until now, the first one gone or not
    }
    for (ChainedLive& effect : chained) {
        CloseEffect(effect.handle);
    }
    chained.clear();
}

std::vector<PublishedLink> PublishedChain() {
    std::vector<PublishedLink> links;
    if (EffectHandle* first = LiveFirstEffectForBlocks()) {
        links.push_back({FileNameOf(currentSlot->VstPath), first});
    }
    for (const ChainedLive& effect : chained) {
        links.push_back({FileNameOf(effect.path.c_str()), effect.handle});
    }
    return links;
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
    CrossfadeBlockEffects(links, count);
    WaitForChainChange();
}

bool TakeOutFaultedChainedEffects(SettingsSlot& slot, std::wstring& named) {
    std::vector<size_t> faulted;
    for (size_t i = 0; i < chained.size(); ++i) {
        if (!EffectHealthy(chained[i].handle)) {
            faulted.push_back(i);
        }
    }
    if (faulted.empty()) {
        return false;
    }
    // Out of the blocks first: a block still inside one ends within its limit (a hung one in
    // this process was given up already).
    TakeEffectsFromBlocks();
    for (auto i = faulted.rbegin(); i != faulted.rend(); ++i) {
        AddName(named, chained[*i].path.c_str());
        CountTakenOut(chained[*i].path);
        if (!chained[*i].isolated &&
            chained[*i].handle->fault(chained[*i].handle).kind == EffectFaultKind::Fault) {
            slot.Chained[chained[*i].position - 1].VstIsolated = true; // as the first effect
        }
        CloseEffect(chained[*i].handle);
        chained.erase(chained.begin() + static_cast<std::ptrdiff_t>(*i));
    }
    PublishLiveChain();
    if (LiveEffectLoaded() || !chained.empty()) {
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

std::wstring ChainedEffectCounters(const SettingsSlot& slot) {
    std::wstring lines;
    for (int32_t i = 0; i < CHAINED_EFFECTS && slot.Chained[i].VstPath[0] != L'\0'; ++i) {
        uint32_t late = 0;
        for (const ChainedLive& effect : chained) {
            late = effect.position == i + 1 ? effect.handle->blockStats(effect.handle).late : late;
        }
        wchar_t line[VST_PATH_UNITS + 64];
        std::swprintf(line, sizeof line / sizeof *line, Text(TEXT_CHAIN_COUNTERS), i + 2,
                      FileNameOf(slot.Chained[i].VstPath), TimesTakenOut(slot.Chained[i].VstPath),
                      late);
        lines += (lines.empty() ? L"" : L"\n") + std::wstring(line);
    }
    return lines;
}

namespace {

ChainedLive* LiveAt(int32_t index) {
    for (ChainedLive& effect : chained) {
        if (effect.position == index + 1) {
            return &effect;
        }
    }
    return nullptr;
}

void SortByPosition() {
    std::sort(chained.begin(), chained.end(),
              [](const ChainedLive& a, const ChainedLive& b) { return a.position < b.position; });
}

} // namespace

bool AddChainedEffect(SettingsSlot& slot, int32_t slotIndex, const wchar_t* path) {
    int32_t index = 0;
    while (index < CHAINED_EFFECTS && slot.Chained[index].VstPath[0] != L'\0') {
        ++index;
    }
    if (index == CHAINED_EFFECTS) {
        return false;
    }
    ChainedEffect wish = {};
    std::wcsncpy(wish.VstPath, path, VST_PATH_MAX_UNITS - 1);
    bool isolated = false;
    EffectHandle* h = StartChained(wish, slotIndex, index + 1, isolated);
    if (h == nullptr) {
        return false;
    }
    slot.Chained[index] = wish;
    chained.push_back({h, wish.VstPath, index + 1, false, isolated}); // sized, then switched in
    PublishLiveChain();
    return true;
}

void RemoveChainedEffect(SettingsSlot& slot, int32_t index) {
    if (index < 0 || index >= CHAINED_EFFECTS) {
        return;
    }
    EffectHandle* removed = nullptr;
    for (size_t i = 0; i < chained.size(); ++i) {
        if (chained[i].position == index + 1) {
            removed = chained[i].handle;
            chained.erase(chained.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    for (ChainedLive& effect : chained) {
        effect.position -= effect.position > index + 1 ? 1 : 0;
    }
    DropFromSlot(slot, index);
    PublishLiveChain(); // it fades out of the blocks; the others play on through it
    if (removed != nullptr) {
        WaitForNoEffectCall();
        CloseEffect(removed);
    }
}

void SwapChainedEffects(SettingsSlot& slot, int32_t a, int32_t b) {
    if (a < 0 || b < 0 || a >= CHAINED_EFFECTS || b >= CHAINED_EFFECTS) {
        return;
    }
    ChainedLive* first = LiveAt(a);
    ChainedLive* second = LiveAt(b);
    if (first != nullptr) {
        first->position = b + 1;
    }
    if (second != nullptr) {
        second->position = a + 1;
    }
    std::swap(slot.Chained[a], slot.Chained[b]);
    SortByPosition();
    PublishLiveChain();
}

bool SwapFirstAndSecond(SettingsSlot& slot) {
    ChainedLive* second = LiveAt(0);
    if (second == nullptr || !LiveEffectLoaded()) {
        return false;
    }
    bool wasIsolated = false;
    const std::wstring path = PluginPathFromProgramFolder(slot.Chained[0].VstPath);
    second->handle = ExchangeLiveEffect(second->handle, path, second->isolated, wasIsolated);
    second->isolated = wasIsolated;
    second->bypassed = slot.VstBypassed;
    second->path = slot.VstPath;
    ChainedEffect& next = slot.Chained[0];
    std::swap(slot.VstPath, next.VstPath);
    std::swap(slot.VstIsolated, next.VstIsolated);
    std::swap(slot.VstBypassed, next.VstBypassed);
    PublishLiveChain();
    return true;
}

void SetChainedBypass(SettingsSlot& slot, int32_t index, bool bypassed) {
    if (index < 0 || index >= CHAINED_EFFECTS) {
        return;
    }
    slot.Chained[index].VstBypassed = bypassed;
    if (ChainedLive* effect = LiveAt(index)) {
        effect->bypassed = bypassed;
    }
    PublishLiveChain();
}

EffectHandle* ChainedEffectHandle(int32_t index) {
    const ChainedLive* effect = LiveAt(index);
    return effect != nullptr ? effect->handle : nullptr;
}

bool ChainedEffectIsolated(int32_t index) {
    const ChainedLive* effect = LiveAt(index);
    return effect != nullptr && effect->isolated;
}
