// The load/unload commands behind the main window's plug-in button.
#pragma once

#include <windows.h>

// Loads the current slot's VstPath in place of whatever was loaded (under EngineLock, sized
// for the running stream), opens its editor and switches the controls; on failure the
// controls show the inactive state and the user is told.
void LoadPluginCommand(HWND mainWindow);

// Unloads the plug-in (safe with nothing loaded) and switches the controls back.
void UnloadPluginCommand(HWND mainWindow);

// After a fault of the loaded effect (seen on either thread): cuts it loose, switches the
// controls back to the stage and tells the user once, naming the DLL and the exception code.
// Nothing otherwise. Called by the main window's level timer and the editor's idle timer.
void CheckPluginFault(HWND mainWindow);

// Sets pluginActive and the plug-in and stage controls to match.
void SetPluginUiState(HWND mainWindow, bool active);
