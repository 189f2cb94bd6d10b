// The plug-in's own editor in a modeless window of ours, titled "Kawauso++", sized to the
// rectangle the effect asks for and idled every 20 ms.
#pragma once

#include <windows.h>

struct EffectHandle;

// Creates and shows the editor window for the effect of handle, or raises it if it exists. Nothing
// for no effect or an effect without an editor. The window holds the one the effect makes as its
// child, and closing it sends WM_EDITOR_CLOSED to the owner.
void OpenEditor(HWND owner, EffectHandle* handle);

// Closes the editor window, if there is one (as its close box does).
void CloseEditor();

// True while the editor window exists, shown or hidden with the main window.
bool EditorIsOpen();

// Shows or hides the editor window, if there is one.
void ShowEditor(int showCommand);

INT_PTR CALLBACK EditorDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
