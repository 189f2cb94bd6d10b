// The eight settings slots, the one bound to the main window, and where their file lives.
// User-interface thread only.
#pragma once

#include <cstdint>

#include "settings/settings_slot.h"

constexpr int32_t INI_PATH_UNITS = 512;

extern SettingsSlot slots[SLOT_COUNT];
extern int32_t currentSlotIndex;  // 0..SLOT_COUNT-1
extern SettingsSlot* currentSlot; // &slots[currentSlotIndex] once program entry has set it
extern wchar_t iniPath[INI_PATH_UNITS];

// Puts the store back to its state at program start: every slot zero, slot 0 current, no
// path. For tests.
void ResetSettingsStore();
