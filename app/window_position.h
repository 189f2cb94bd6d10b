// Placing the main window at a saved position.
#pragma once

#include <windows.h>

// Moves the window's top-left corner to (x, y), keeping its size, unless that would put its
// title bar outside every monitor (one unplugged since the position was saved): then the
// window stays where it is, so it can always be reached.
void MoveToSavedPosition(HWND window, int x, int y);
