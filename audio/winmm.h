// WinMM's wave functions, bound at run time from the system's own winmm.dll. WINMM is not one
// of the system's known DLLs, so a static import would be looked for beside the program first:
// any winmm.dll dropped there would run inside the program. Without the system's copy (or with
// a copy that lacks a function) no device is listed and no stream opens.
#pragma once

#include <windows.h>
#include <mmsystem.h>

struct WinmmFunctions {
    decltype(&::waveInGetNumDevs) waveInGetNumDevs;
    decltype(&::waveOutGetNumDevs) waveOutGetNumDevs;
    decltype(&::waveInGetDevCapsW) waveInGetDevCapsW;
    decltype(&::waveOutGetDevCapsW) waveOutGetDevCapsW;
    decltype(&::waveInOpen) waveInOpen;
    decltype(&::waveOutOpen) waveOutOpen;
    decltype(&::waveInClose) waveInClose;
    decltype(&::waveOutClose) waveOutClose;
    decltype(&::waveInPrepareHeader) waveInPrepareHeader;
    decltype(&::waveOutPrepareHeader) waveOutPrepareHeader;
    decltype(&::waveInUnprepareHeader) waveInUnprepareHeader;
    decltype(&::waveOutUnprepareHeader) waveOutUnprepareHeader;
    decltype(&::waveInAddBuffer) waveInAddBuffer;
    decltype(&::waveOutWrite) waveOutWrite;
    decltype(&::waveInStart) waveInStart;
    decltype(&::waveInReset) waveInReset;
    decltype(&::waveOutReset) waveOutReset;
    decltype(&::waveOutGetPosition) waveOutGetPosition;
};

// True when every function above was found in the system's winmm.dll (bound on first use).
bool WinmmPresent();

// The bound functions; only to be called when WinmmPresent().
const WinmmFunctions& Winmm();
