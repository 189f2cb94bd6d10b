// A short notice the user sees without a box to answer: a balloon on the tray icon while the
// window lives in the notification area, else a balloon tip pointing at one of the window's
// controls. It goes by itself after a few seconds.
#pragma once

#include <windows.h>

void ShowBalloon(HWND window, int controlId, const wchar_t* text);

// The balloon tip's own timer: hides it (WM_TIMER of the main window, TIMER_BALLOON).
void HideBalloon();
