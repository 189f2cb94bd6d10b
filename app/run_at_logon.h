// The system menu's check item "Windowsの起動時に開始" / "Start with Windows": the current
// user's Run entry that starts this program in the tray on the slot that was current when it
// was checked. The check shows whether the entry starts this very exe: a copy moved elsewhere
// shows it unchecked, and checking it there points the entry at the copy.
#pragma once

#include <windows.h>

#include <string>

// Adds the item above the language's (initialisation), checked as the entry stands.
void AddRunAtLogonItem(HWND window);

// ID_RUN_AT_LOGON: writes the entry for this exe and the current slot, or removes it.
INT_PTR ToggleRunAtLogon(HWND window);

// The entry's name under HKCU\Software\Microsoft\Windows\CurrentVersion\Run, and what it runs.
extern const wchar_t RUN_ENTRY_NAME[];
std::wstring RunAtLogonCommand(int slot);
// True when the entry starts this exe.
bool RunAtLogonPointsHere();
