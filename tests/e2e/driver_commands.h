// The driver's subcommands. Each takes its arguments (after the subcommand's name), prints
// its result on stdout and returns 0, or explains on stderr and returns non-zero.
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::wstring>;

// Controls of the main window (driver_controls.cpp).
int WaitMain(const Args& args);
int WaitGone(const Args& args);
int MainState(const Args& args);
int ControlRect(const Args& args);
int Text(const Args& args);
int SetText(const Args& args);
int ComboSelection(const Args& args);
int ComboItems(const Args& args);
int Select(const Args& args);
int Position(const Args& args);
int Scroll(const Args& args);
int Checked(const Args& args);
int Enabled(const Args& args);
int Visible(const Args& args);
int Click(const Args& args);
int PostClick(const Args& args);
int Command(const Args& args);
int PostCommand(const Args& args);
int State(const Args& args);
int NeverVisible(const Args& args);

// The window as a whole, the tray, dialogs and menus (driver_windows_commands.cpp).
int Minimise(const Args& args);
int Close(const Args& args);
int Move(const Args& args);
int TrayNotify(const Args& args);
int TrayMenu(const Args& args);
int TrayIcon(const Args& args);
int TrayClick(const Args& args);
int WaitWindow(const Args& args);
int WindowGone(const Args& args);
int MessageBoxText(const Args& args);
int Dismiss(const Args& args);
int FileDialog(const Args& args);
int ListWindows(const Args& args);
int SleepFor(const Args& args);
int Now(const Args& args);

// Pixels on the screen (driver_capture.cpp).
int RedPixels(const Args& args);
int CaptureWindow(const Args& args);

// Parses a whole decimal number; false for anything else.
bool ParseNumber(const std::wstring& text, long& value);
