#include "plugin/plugin_commands.h"

#include <cwchar>
#include <cwctype>
#include <string>

#include "audio/audio_format.h"
#include "audio/engine_state.h"
#include "app/stream_commands.h"
#include "app/texts.h"
#include "plugin/editor_window.h"
#include "plugin/plugin_call_watch.h"
#include "plugin/plugin_host.h"
#include "plugin/plugin_state.h"
#include "platform/platform.h"
#include "res/resource.h"
#include "settings/settings_store.h"

namespace {

constexpr DWORD CALL_POLL_MS = 1;
constexpr DWORD PROGRAM_PATH_UNITS = 1024;

// The path the loaded effect came from: the slot's path may change while it stays loaded.
wchar_t loadedPath[VST_PATH_UNITS];

// True while a load runs. An effect may show a box of its own while it opens, whose message
// loop lets other commands in: a close or another load then would pull the effect away from
// under its own opening, so they wait for the load (the close is posted again after it).
bool loading = false;
bool closeWaiting = false;

// Takes the effect away from the stream: once the lock has been held with pluginActive off, no
// block enters the effect, and once the call marked then is done none is inside it, so what
// follows needs no lock and the sound goes on through the stage meanwhile. That call is waited
// for no longer than a user may be kept waiting: then it is given up, the effect is cut loose
// as hung and the stream starts again without the stuck thread. False in that case.
bool DetachFromStream(HWND mainWindow) {
    LockEnter(&EngineLock);
    pluginActive.store(0);
    LockLeave(&EngineLock);
    const DWORD start = GetTickCount();
    while (PluginCallRunning()) {
        if (GetTickCount() - start >= pluginHangFloorMs && GiveUpPluginCallAfter(0)) {
            RestartStream(mainWindow);
            return false;
        }
        Sleep(CALL_POLL_MS);
    }
    return true;
}

// A relative plug-in path is the program's folder's, never the current directory's: a portable
// set-up keeps its plug-ins beside the program, and the current directory is whatever started
// it. A path from the root of no drive gets the program's drive.
std::wstring PluginPathFromProgramFolder(const wchar_t* path) {
    const bool drive = std::iswalpha(path[0]) && path[1] == L':';
    const bool separator = path[0] == L'\\' || path[0] == L'/';
    if (path[0] == L'\0' || (separator && (path[1] == L'\\' || path[1] == L'/'))) {
        return path; // nothing, or a network path
    }
    if (drive) {
        const bool rooted = path[2] == L'\\' || path[2] == L'/';
        return rooted ? std::wstring(path) : std::wstring(path, 2) + L"\\" + (path + 2);
    }
    wchar_t program[PROGRAM_PATH_UNITS];
    const DWORD length = GetModuleFileNameW(nullptr, program, PROGRAM_PATH_UNITS);
    if (length == 0 || length >= PROGRAM_PATH_UNITS) {
        return path;
    }
    std::wstring folder = program;
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return separator ? folder.substr(0, 2) + path : folder + path;
}

// The message, then the DLL's file name and the exception code (none for a hang) on a line of
// their own.
void ShowPluginMessage(HWND mainWindow, const wchar_t* message, uint32_t faultCode) {
    std::wstring text = message;
    if (faultCode != 0) {
        wchar_t code[16] = L"";
        if (faultCode != EFFECT_HUNG) {
            std::swprintf(code, sizeof code / sizeof *code, L" (0x%08X)",
                          static_cast<unsigned>(faultCode));
        }
        text = text + L"\n" + FileNameOf(loadedPath) + code;
    }
    MessageBoxW(mainWindow, text.c_str(), L"Kawauso04", MB_OK | MB_ICONERROR);
}

} // namespace

bool LoadSlotPlugin(HWND mainWindow, const std::vector<uint8_t>* state, bool openEditor) {
    if (loading) {
        return false;
    }
    loading = true;
    const bool detached = DetachFromStream(mainWindow);
    UnloadPlugin();
    if (!detached) {
        ShowPluginMessage(mainWindow, Text(TEXT_CUT_LOOSE_HUNG), EFFECT_HUNG); // names the old one
    }
    std::wcsncpy(loadedPath, currentSlot->VstPath, VST_PATH_UNITS - 1);
    const bool ok = LoadPlugin(PluginPathFromProgramFolder(currentSlot->VstPath).c_str(),
                               static_cast<int32_t>(SAMPLE_RATE));
    if (ok && state != nullptr && RestoreEffectState(*state) != StateRestore::Restored) {
        DebugOutput(
            L"Kawauso04: the kept plug-in state was refused; the effect keeps its defaults\n");
    }
    if (ok && running != 0) {
        SetPluginBlockSize(FramesForBufferBytes(bufferBytes));
    }
    loading = false;
    if (closeWaiting) {
        closeWaiting = false;
        PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    }
    if (ok && openEditor) {
        OpenEditor(mainWindow);
    }
    SetPluginUiState(mainWindow, ok);
    return ok;
}

void LoadPluginCommand(HWND mainWindow) {
    if (!loading && !LoadSlotPlugin(mainWindow, nullptr, true)) {
        ReportFailedLoad(mainWindow);
    }
}

const wchar_t* FileNameOf(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        name = (*c == L'\\' || *c == L'/') ? c + 1 : name;
    }
    return name;
}

void ReportFailedLoad(HWND mainWindow) {
    ShowPluginMessage(mainWindow, Text(TEXT_LOAD_FAILED), effectFault.load());
}

const wchar_t* ActivePluginPath() {
    const bool active = pluginActive.load() != 0 && effect != nullptr && effectFault.load() == 0;
    return active ? loadedPath : nullptr;
}

void CheckPluginFault(HWND mainWindow) {
    if (loading) {
        return; // no block enters an effect while a load runs; a load reports its own fault
    }
    const uint32_t bufferMs = StreamBufferMs();
    if (bufferMs != 0 && GiveUpPluginCallAfter(PluginHangLimitMs(bufferMs))) {
        RestartStream(mainWindow);
    }
    const uint32_t code = effectFault.load();
    if (code == 0 || effect == nullptr) {
        return; // none, or cut loose already
    }
    UnloadPluginCommand(mainWindow); // calls nothing of it any more, and keeps its library
    ShowPluginMessage(mainWindow, Text(code == EFFECT_HUNG ? TEXT_CUT_LOOSE_HUNG : TEXT_CUT_LOOSE),
                      code);
}

void UnloadPluginCommand(HWND mainWindow) {
    if (loading) {
        return;
    }
    const bool detached = DetachFromStream(mainWindow);
    UnloadPlugin();
    SetPluginUiState(mainWindow, false);
    if (!detached) {
        ShowPluginMessage(mainWindow, Text(TEXT_CUT_LOOSE_HUNG), EFFECT_HUNG);
    }
}

bool CloseWaitsForLoad() {
    closeWaiting = closeWaiting || loading;
    return loading;
}

void SetPluginUiState(HWND mainWindow, bool active) {
    pluginActive.store(active ? 1 : 0);
    SetDlgItemTextW(mainWindow, IDC_VST_LOAD, Text(active ? TEXT_VST_RELEASE : TEXT_VST_LOAD));
    EnableWindow(GetDlgItem(mainWindow, IDC_VST_EDIT), active ? TRUE : FALSE);
    const BOOL stageEnabled = active ? FALSE : TRUE;
    EnableWindow(GetDlgItem(mainWindow, IDC_VOLUME), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_PITCH), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_HI), stageEnabled);
    EnableWindow(GetDlgItem(mainWindow, IDC_LO), stageEnabled);
}
