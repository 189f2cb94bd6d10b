// Windows only: a system DLL taken from the system folder and nowhere else. A DLL of the same
// name beside the program or in the current directory (a download that dropped one there) is
// never loaded, and the DLL's own dependencies are looked for beside it first.
#pragma once

#include <windows.h>

// The module, loaded once and kept for the process; null when the system has none.
HMODULE LoadSystemLibrary(const wchar_t* name);
