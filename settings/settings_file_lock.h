// Two copies of the program may run beside one settings file. Every read or write of the
// file as a whole is done while holding a named mutex that stands for the file, so that the
// two never interleave their profile calls or an encoding rewrite.
#pragma once

#include <windows.h>

// Waits for the file's mutex and returns it held, or null when there is none to hold (an
// empty path, a mutex that cannot be created, or a wait that ran out): the caller then goes
// on without it.
HANDLE LockSettingsFile(const wchar_t* path);

// Releases and closes what LockSettingsFile returned; null is allowed.
void UnlockSettingsFile(HANDLE lock);
