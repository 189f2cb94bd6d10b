// The effects after the first of the live chain: a slot's effects 2 to 8, each behind a handle
// of its own, in this process or in a host process of its own by the same rule as the first's.
// The blocks go through the first (live_effect.h) and then these, in order. A fault in one of
// them takes out that one only: the others, and the first, play on. User-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings_slot.h"

struct EffectHandle;

// Loads slot's chained effects in order (paths as the program's folder resolves them, each with
// the state its position kept for it in the slot's files) in place of any loaded. One that does
// not load is left out of the chain and of the slot, and its file name added to dropped (a line
// each). Called with the chain taken away from the stream.
void LoadChainedEffects(SettingsSlot& slot, int32_t slotIndex, std::wstring& dropped);

// Closes them all; their host processes end with them. Called with the chain taken away from
// the stream.
void UnloadChainedEffects();

// The chain the blocks go through: the first effect (while healthy) and the loaded chained
// effects after it, each bypassed as its slot says.
void PublishLiveChain();

// Takes out every chained effect that faulted, hung or whose host is gone and publishes the
// chain without them; the slot keeps them, to be loaded again with it, and one that faulted in
// this process in a process of its own from then on. Their file names (a line each) go to
// named. True when one was taken out.
bool TakeOutFaultedChainedEffects(SettingsSlot& slot, std::wstring& named);

// The loaded chained effects' states into the slot's files of their positions; a position whose
// effect was taken out keeps its file, and the files of positions beyond the chain go.
void KeepChainedEffectStates(const SettingsSlot& slot, int32_t slotIndex);

uint32_t ChainedEffectCount();

// The effects the blocks go through as PublishLiveChain gives them, by link index: each one's
// file name and handle (for the monitor's figures per effect).
struct PublishedLink {
    std::wstring name;
    EffectHandle* handle;
};
std::vector<PublishedLink> PublishedChain();

// For the About box, a line for each of the slot's chained effects: its position, its file
// name, how often it was taken out since the program started and its late blocks now.
std::wstring ChainedEffectCounters(const SettingsSlot& slot);

// What the chain window changes, on the slot's chain and the loaded effects together; each
// publishes the chain anew. index counts the slot's chained effects from 0.
// Loads path as the next chained effect (false when the chain is full or it does not load).
bool AddChainedEffect(SettingsSlot& slot, int32_t slotIndex, const wchar_t* path);
void RemoveChainedEffect(SettingsSlot& slot, int32_t index);
void SwapChainedEffects(SettingsSlot& slot, int32_t a, int32_t b);
// The first effect and the slot's chained effect 0, both loaded, change places (false when
// either is not loaded). Called with no editor open.
bool SwapFirstAndSecond(SettingsSlot& slot);
void SetChainedBypass(SettingsSlot& slot, int32_t index, bool bypassed);
// The loaded effect at index, null when the slot keeps it unloaded.
EffectHandle* ChainedEffectHandle(int32_t index);
// Where the loaded effect at index runs: true in a host process of its own.
bool ChainedEffectIsolated(int32_t index);
