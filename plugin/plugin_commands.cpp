#include "plugin/plugin_commands.h"

#include <cwchar>
#include <string>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_host.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

const wchar_t LOAD_FAILED[] = L"VSTプラグインのオープンに失敗しました。";
const wchar_t CUT_LOOSE[] = L"VSTプラグインで異常が発生したため切り離しました。";

// The path the loaded effect came from: the slot's path may change while it stays loaded.
wchar_t loadedPath[VST_PATH_UNITS];

// True while a load runs. An effect may show a box of its own while it opens, whose message
// loop lets other commands in: a close or another load then would pull the effect away from
// under its own opening, so they wait for the load (the close is posted again after it).
bool loading = false;
bool closeWaiting = false;

// Takes the effect away from the stream: once the lock has been held with pluginActive off,
// no block is inside the effect and none will enter it, so what follows needs no lock and
// the sound goes on through the stage meanwhile.
void DetachFromStream() {
    LockEnter(&EngineLock);
    pluginActive.store(0);
    LockLeave(&EngineLock);
}

// The message, then the DLL's file name and the exception code on a line of their own.
void ShowPluginMessage(HWND mainWindow, const wchar_t* message, uint32_t faultCode) {
    std::wstring text = message;
    if (faultCode != 0) {
        const wchar_t* name = loadedPath;
        for (const wchar_t* c = loadedPath; *c != L'\0'; ++c) {
            name = (*c == L'\\' || *c == L'/') ? c + 1 : name;
        }
        wchar_t detail[VST_PATH_UNITS + 32];
        std::swprintf(detail, sizeof detail / sizeof *detail, L"\n%ls (0x%08X)", name,
                      static_cast<unsigned>(faultCode));
        text += detail;
    }
    MessageBoxW(mainWindow, text.c_str(), L"Kawauso04", MB_OK | MB_ICONERROR);
}

}  // namespace

void LoadPluginCommand(HWND mainWindow) {
    if (loading) {
        return;
    }
    loading = true;
    std::wcsncpy(loadedPath, currentSlot->VstPath, VST_PATH_UNITS - 1);
    DetachFromStream();
    UnloadPlugin();
    const bool ok = LoadPlugin(currentSlot->VstPath, static_cast<int32_t>(SAMPLE_RATE));
    if (ok && running != 0) {
        SetPluginBlockSize(FramesForBufferBytes(bufferBytes));
    }
    loading = false;
    if (closeWaiting) {
        closeWaiting = false;
        PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    }
    if (ok) {
        OpenEditor(mainWindow);
        SetPluginUiState(mainWindow, true);
    } else {
        SetPluginUiState(mainWindow, false);
        ShowPluginMessage(mainWindow, LOAD_FAILED, effectFault.load());
    }
}

void CheckPluginFault(HWND mainWindow) {
    const uint32_t code = effectFault.load();
    if (code == 0 || effect == nullptr || loading) {
        return;  // none, cut loose already, or a load's own (it reports it when it returns)
    }
    UnloadPluginCommand(mainWindow);  // calls nothing of it any more, and keeps its library
    ShowPluginMessage(mainWindow, CUT_LOOSE, code);
}

void UnloadPluginCommand(HWND mainWindow) {
    if (loading) {
        return;
    }
    DetachFromStream();
    UnloadPlugin();
    SetPluginUiState(mainWindow, false);
}

bool CloseWaitsForLoad() {
    closeWaiting = closeWaiting || loading;
    return loading;
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
