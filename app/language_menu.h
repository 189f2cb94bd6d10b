// The main window's system menu item "English": checked while every text is shown in English,
// Japanese otherwise; the choice is the program's, kept in the settings file.
#pragma once

#include <windows.h>

// Adds the item, checked when English is shown (initialisation).
void AddLanguageItem(HWND window);

// ID_ENGLISH: the other language for every text shown now (the window's controls, its tray
// menu) and every one shown later, and the choice saved at once.
INT_PTR SwitchLanguage(HWND window);
