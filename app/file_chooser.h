// The plug-in file chooser.
#pragma once

#include <windows.h>

// Runs the file-open dialog with buffer as the initial and resulting path. Non-zero when the
// user picked an existing file (written into buffer), 0 on cancel or error.
BOOL ChooseEffectFile(HWND owner, const wchar_t* title, wchar_t* buffer, DWORD bufferLength);
