#include "app/slot_plugin.h"

#include <cwchar>
#include <string>
#include <vector>

#include "app/balloon.h"
#include "app/slot_saver.h"
#include "app/texts.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_commands.h"
#include "plugin/plugin_state.h"
#include "res/resource.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "settings/slot_plugin_files.h"

namespace {

enum Notice : WPARAM { NOTICE_LOAD_FAILED = 1, NOTICE_LOAD_SKIPPED = 2 };

void KeepEffectState(const wchar_t* pluginPath) {
    std::vector<uint8_t> state;
    if (pluginPath == nullptr || !CaptureEffectState(state) ||
        !WriteSlotPluginState(currentSlotIndex, pluginPath, state)) {
        // Nothing, or nothing readable: an older state would come back in its place.
        DeleteSlotPluginState(currentSlotIndex);
    }
}

} // namespace

void SaveSlotWithPlugin(HWND window) {
    const wchar_t* pluginPath = ActivePluginPath();
    SettingsSlot& slot = *currentSlot;
    slot.VstActive = pluginPath != nullptr;
    slot.VstEditorOpen = slot.VstActive && EditorIsOpen();
    if (pluginPath != nullptr) {
        std::wcsncpy(slot.VstPath, pluginPath, VST_PATH_MAX_UNITS - 1);
        slot.VstPath[VST_PATH_MAX_UNITS - 1] = L'\0';
    }
    SaveSlotNow(window);
    KeepEffectState(pluginPath);
}

void BringBackSlotPlugin(HWND window) {
    SettingsSlot& slot = *currentSlot;
    if (!slot.VstActive) {
        return;
    }
    if (SlotPluginLoadMarked(currentSlotIndex)) {
        // It took the program down last time: the slot forgets it, so no later start tries it.
        slot.VstActive = false;
        slot.VstEditorOpen = false;
        SaveCurrentSlot();
        UnmarkSlotPluginLoad(currentSlotIndex);
        PostMessageW(window, WM_SLOT_PLUGIN_NOTICE, NOTICE_LOAD_SKIPPED, 0);
        return;
    }
    std::vector<uint8_t> state;
    const bool kept = ReadSlotPluginState(currentSlotIndex, slot.VstPath, state);
    const bool marked = MarkSlotPluginLoad(currentSlotIndex);
    const bool loaded = LoadSlotPlugin(window, kept ? &state : nullptr, slot.VstEditorOpen);
    if (marked) {
        UnmarkSlotPluginLoad(currentSlotIndex);
    }
    if (!loaded) {
        PostMessageW(window, WM_SLOT_PLUGIN_NOTICE, NOTICE_LOAD_FAILED, 0);
    }
}

void OnSlotPluginNotice(HWND window, WPARAM notice) {
    if (notice == NOTICE_LOAD_FAILED) {
        ReportFailedLoad(window);
    } else if (notice == NOTICE_LOAD_SKIPPED) {
        static std::wstring text; // the balloon's tool keeps pointing at its text
        text = std::wstring(Text(TEXT_LOAD_SKIPPED)) + L"\n" + FileNameOf(currentSlot->VstPath);
        ShowBalloon(window, IDC_VST_LOAD, text.c_str());
    }
}
