// The files kept beside the settings file for the plug-in a slot remembers: the effect's state,
// and a marker that lives only while the program loads that plug-in at its start. Names come
// from the settings file's and the slot's: KaWUmi.Settings03.vststate and
// KaWUmi.Settings03.vstloading; the state of the chain's effect at position 1 to 7 (counted from
// 0, the first being today's file) is KaWUmi.Settings03-2.vststate to KaWUmi.Settings03-8.vststate.
// User-interface thread only; with no settings path there are no files and every operation fails
// quietly.
#pragma once

#include <cstdint>
#include <vector>

// Keeps state for the plug-in at pluginPath. Written under a temporary name and renamed over the
// old file, so a crash part-way leaves the old file or the new one, never a half. True when kept.
bool WriteSlotPluginState(int32_t slotIndex, const wchar_t* pluginPath,
                          const std::vector<uint8_t>& state, int32_t position = 0);

// The state kept for the plug-in at pluginPath (paths compared as the file system does). False
// (state empty) when there is none, the file is damaged, or it was kept for another path.
bool ReadSlotPluginState(int32_t slotIndex, const wchar_t* pluginPath, std::vector<uint8_t>& state,
                         int32_t position = 0);

void DeleteSlotPluginState(int32_t slotIndex, int32_t position = 0);

// The marker of a load at start. Mark is true when the marker was written.
bool MarkSlotPluginLoad(int32_t slotIndex);
bool SlotPluginLoadMarked(int32_t slotIndex);
void UnmarkSlotPluginLoad(int32_t slotIndex);
