#include "settings/settings_store.h"

#include <cstring>

SettingsSlot slots[SLOT_COUNT];
int32_t currentSlotIndex = 0;
SettingsSlot* currentSlot = &slots[0];
wchar_t iniPath[INI_PATH_UNITS];

void ResetSettingsStore() {
    std::memset(slots, 0, sizeof(slots));
    currentSlotIndex = 0;
    currentSlot = &slots[0];
    std::memset(iniPath, 0, sizeof(iniPath));
}
