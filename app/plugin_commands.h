// The load/unload commands behind the main window's plug-in button.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Loads the current slot's VstPath in place of whatever was loaded (sized for the running
// stream), opens its editor and switches the controls; on failure the controls show the
// inactive state and the user is told. Loads and unloads run outside EngineLock: the stream
// goes through the stage until the new effect is ready. Neither runs while a load is under
// way (a box inside the effect's opening).
void LoadPluginCommand(HWND mainWindow);

// The load behind both: gives the new effect state (when not null) before anything else
// reaches it, and opens its editor only when asked. The effect runs in a host process of its
// own when the slot asks for it or its DLL is of the other bitness. A failure is left to the
// caller to report, with ReportFailedLoad; an effect that faulted once loaded (while its state
// went back, it was sized or its editor opened) is cut loose and the user told at once.
enum class LoadOutcome { Loaded, Failed, CutLoose };
LoadOutcome LoadSlotPlugin(HWND mainWindow, const std::vector<uint8_t>* state, bool openEditor);

// VST設定: the loaded effect's editor in our window, wherever the effect runs; asked while a
// load or a call on the effect waits, once that has returned.
void OpenLiveEditor(HWND mainWindow);

// The box of a failed load, naming the exception when the effect raised one.
void ReportFailedLoad(HWND mainWindow);
// The box of a chained effect that did not open, naming its file.
void ReportFailedChainedLoad(HWND mainWindow, const wchar_t* path);

// The file name at the end of a plug-in path, as messages name the DLL.
const wchar_t* FileNameOf(const wchar_t* path);

// A relative plug-in path is the program's folder's, never the current directory's; a path from
// the root of no drive gets the program's drive.
std::wstring PluginPathFromProgramFolder(const wchar_t* path);

// The path the loaded effect came from while it is loaded and on, else null.
const wchar_t* ActivePluginPath();

// Another loaded effect has become the first (the chain window moved it): the window and what
// the slot keeps follow the current slot's first effect.
void FirstEffectMoved(HWND mainWindow);

// Unloads the plug-in (safe with nothing loaded) and switches the controls back; asked while a
// call on the effect waits, once that call has returned.
void UnloadPluginCommand(HWND mainWindow);

// True while a load, or another call on the effect that waits with the window's messages
// flowing, is under way: the window's close must wait, and is posted again (to the main
// window) once that has returned.
bool CloseWaitsForLoad(HWND mainWindow);

// True while a load or such a call is under way: the slot list's choice then waits for it
// (its change is posted again once that has returned).
bool SlotChangeWaitsForLoad(HWND mainWindow);

// True while a load or such a call is under way: Start is refused meanwhile, and a resume
// waits for it (ResumeWaitsForLoad: true when it must; the resume runs once it has returned).
bool PluginLoadRunning();
bool ResumeWaitsForLoad(HWND mainWindow);

// TIMER_PLUGIN_DEFERRED: once no call on the effect waits any more, runs what waited for it
// (an unload, a fault's restart or cutting loose, a close, a resume, a sizing).
void OnPluginDeferredTimer(HWND mainWindow);

// After a fault of the loaded effect (seen on either thread): cuts it loose, switches the
// controls back to the stage and tells the user once, naming the DLL and the exception code;
// the slot's effect runs in a process of its own from then on. An effect in its own process
// whose host is gone is started again instead, within the restart limit. Nothing otherwise.
// Called by the main window's level and save timers and the editor's idle timer.
void CheckPluginFault(HWND mainWindow);

// Sets pluginActive and the plug-in and stage controls to match.
void SetPluginUiState(HWND mainWindow, bool active);
