// Finding the program's windows from outside: the main dialog, its controls, message
// boxes, the file dialog, the plug-in editor and popup menus. Every wait polls with a limit.
#pragma once

#include <windows.h>

#include <string>

constexpr DWORD POLL_MS = 20;
constexpr DWORD DEFAULT_WAIT_MS = 10000;
// The longest a sent message may take before the program counts as hung.
constexpr UINT SEND_TIMEOUT_MS = 10000;

// The main window: a top-level dialog titled "Kawauso04" that holds the capture device list.
// Hidden windows count (the program may live in the notification area). Null if none.
HWND FindMainWindow();

// Waits up to timeoutMs for the main window; null when it did not appear.
HWND WaitMainWindow(DWORD timeoutMs);

// Waits up to timeoutMs until window is gone; false when it is still there.
bool WaitWindowGone(HWND window, DWORD timeoutMs);

// A top-level dialog-class window with exactly this title that is not the main window
// (a message box, the About box, the file dialog, the plug-in editor). Null if none.
HWND FindDialogByTitle(const std::wstring& title);
HWND WaitDialogByTitle(const std::wstring& title, DWORD timeoutMs);

// The visible popup menu window of the program's process, or null.
HWND FindPopupMenu(DWORD processId);

// A control of the main window by id; null (with a message on stderr) when absent.
HWND ControlOf(HWND main, int id);

// The window's text through WM_GETTEXT, which crosses processes for every window class.
std::wstring WindowText(HWND window);

// The class name of a window.
std::wstring ClassOf(HWND window);

// SendMessageTimeoutW with SEND_TIMEOUT_MS; false when the message timed out or failed.
bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
