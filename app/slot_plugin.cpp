#include "app/slot_plugin.h"

#include <cwchar>
#include <string>
#include <vector>

#include "app/balloon.h"
#include "app/chained_effects.h"
#include "app/live_effect.h"
#include "app/slot_saver.h"
#include "app/texts.h"
#include "plugin/editor_window.h"
#include "app/plugin_commands.h"
#include "audio/audio_format.h"
#include "audio/block_processing.h"
#include "res/resource.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
#include "settings/slot_plugin_files.h"

namespace {

enum Notice : WPARAM { NOTICE_LOAD_FAILED = 1, NOTICE_LOAD_SKIPPED = 2 };

// The marker of the start's load stays until the restored effect has processed this long: a
// state that makes it crash in its first blocks is then not given back at the next start.
constexpr uint64_t MARKER_PROCESSING_FRAMES = SAMPLE_RATE;
bool markerHeld = false;
uint64_t markerHeldFrom = 0; // EffectFramesProcessed() when the restored effect was loaded
int32_t markerSlot = 0;      // whose load it marks: the user may switch slots meanwhile

void ReleaseMarker() {
    if (markerHeld) {
        markerHeld = false;
        UnmarkSlotPluginLoad(markerSlot);
    }
}

void KeepEffectState(const wchar_t* pluginPath) {
    std::vector<uint8_t> state;
    if (pluginPath == nullptr || !CaptureLiveEffectState(state) ||
        !WriteSlotPluginState(currentSlotIndex, pluginPath, state)) {
        // Nothing, or nothing readable: an older state would come back in its place.
        DeleteSlotPluginState(currentSlotIndex);
    }
}

} // namespace

void ReadPluginFields(SettingsSlot& slot) {
    if (PluginLoadRunning()) {
        return; // the load has not said yet what the slot keeps: it keeps what it had
    }
    const wchar_t* pluginPath = ActivePluginPath();
    slot.VstActive = pluginPath != nullptr;
    slot.VstEditorOpen = slot.VstActive && EditorIsOpen();
    if (pluginPath != nullptr) {
        std::wcsncpy(slot.VstPath, pluginPath, VST_PATH_MAX_UNITS - 1);
        slot.VstPath[VST_PATH_MAX_UNITS - 1] = L'\0';
    }
}

void SaveSlotWithPlugin(HWND window) {
    ReadPluginFields(*currentSlot);
    SaveSlotNow(window);
    if (!PluginLoadRunning()) {
        KeepEffectState(ActivePluginPath()); // a load under way keeps the file it was given
        if (ActivePluginPath() != nullptr) {
            KeepChainedEffectStates(*currentSlot, currentSlotIndex);
        }
    }
    ReleaseMarker(); // the program or the session ends in order: the effect took nothing down
}

void SettleSlotPluginMarker() {
    if (markerHeld && !PluginLoadRunning() &&
        (!LiveEffectLoaded() ||
         EffectFramesProcessed() - markerHeldFrom >= MARKER_PROCESSING_FRAMES)) {
        ReleaseMarker();
    }
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
    markerSlot = currentSlotIndex;
    markerHeld = MarkSlotPluginLoad(markerSlot);
    const LoadOutcome outcome = LoadSlotPlugin(window, kept ? &state : nullptr, slot.VstEditorOpen);
    markerHeldFrom = EffectFramesProcessed();
    if (outcome != LoadOutcome::Loaded || !kept) {
        ReleaseMarker();
    }
    if (outcome == LoadOutcome::Failed) {
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
