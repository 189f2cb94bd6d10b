// The effect chain window ("エフェクトチェーン..." in the main window's system menu): the
// current slot's effects one a row (name, bitness, own process, bypassed), the first being the
// main window's; Add..., Remove, Up, Down, Bypass, Editor and the own-process switch of the
// selected one. Modeless; what it changes applies while the stream runs and is saved at once.
// The first effect stays first: it is loaded and released from the main window, which releases
// the whole chain with it.
#pragma once

#include <windows.h>

void OpenChainWindow(HWND mainWindow);
// The rows anew, after the chain changed from elsewhere (a load, a release, a fault).
void RefreshChainWindow();
// The window, or null while it is not open.
HWND ChainWindow();
// What Add... does once a file is chosen: the first effect when none is loaded, else the next
// chained one. False when it did not load (the user told, as a failed load is) or the chain is
// full.
bool AddToChain(HWND mainWindow, const wchar_t* path);
