#include "plugin/plugin_commands.h"

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_host.h"
#include "res/resource.h"
#include "settings/settings_store.h"

void LoadPluginCommand(HWND mainWindow) {
    LockEnter(&EngineLock);
    UnloadPlugin();
    const bool ok = LoadPlugin(currentSlot->VstPath, static_cast<int32_t>(SAMPLE_RATE));
    if (ok && running != 0) {
        SetPluginBlockSize(FramesForBufferBytes(bufferBytes));
    }
    LockLeave(&EngineLock);
    if (ok) {
        OpenEditor(mainWindow);
        SetPluginUiState(mainWindow, true);
    } else {
        SetPluginUiState(mainWindow, false);
        MessageBoxW(mainWindow, L"VSTプラグインのオープンに失敗しました。", L"Kawauso04",
                    MB_OK | MB_ICONERROR);
    }
}

void UnloadPluginCommand(HWND mainWindow) {
    LockEnter(&EngineLock);
    UnloadPlugin();
    LockLeave(&EngineLock);
    SetPluginUiState(mainWindow, false);
}

void SetPluginUiState(HWND mainWindow, bool active) {
    pluginActive.store(active ? 1 : 0);
    SetDlgItemTextW(mainWindow, IDC_VST_LOAD, active ? L"VST開放" : L"VST読込");
    EnableWindow(GetDlgItem(mainWindow, IDC_VST_EDIT), active ? TRUE : FALSE);
    const BOOL stageEnabled = active ? FALSE : TRUE;
    EnableWindow(GetDlgItem(mainWindow, IDC_VOLUME), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_PITCH), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_HI), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_LO), stageEnabled);
}
