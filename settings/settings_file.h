// The settings file KaWUmi.ini beside the executable: sections Settings00 to Settings07 of
// ten keys each (two more while a plug-in is kept with the slot), and the program-wide section
// Kawauso04, read and written through the platform's private-profile functions.
// User-interface thread only. A load or save holds the file's lock throughout, so two copies
// of the program never interleave their reads and writes of it.
#pragma once

#include <cstdint>

#include "settings/hotkey_text.h"

// Fills iniPath with the executable's directory followed by KaWUmi.ini. When the
// executable's path does not fit its 260-unit buffer, iniPath stays empty and the other two
// operations see no file.
void BuildIniPath();

// Fills all eight slots from the file; absent files, sections and keys give the defaults.
void LoadAllSlots();

// Writes currentSlot into the section of currentSlotIndex, and nothing else. The file is
// created as UTF-16 text, and an older ANSI file is turned into UTF-16 text first when a
// value would not survive the ANSI code page, so that any device name or path comes back
// unchanged; that rewrite replaces a link's target rather than the link, and keeps the file's
// attributes. Failures are ignored.
void SaveCurrentSlot();

// The language of every text the program shows, program-wide: Language=en (in either case)
// in the section Kawauso04 is English, anything else (or nothing) Japanese.
enum class Language { Japanese, English };
Language LoadLanguage();

// English writes Language=en; Japanese removes the key, and the section once nothing else is
// in it, so the file of a user who never kept English stays byte for byte as it was. A
// read-only file is left as it is.
void SaveLanguage(Language language);

// The global hotkeys, one for each action (hotkey_text.h); a key absent, or one whose text names
// no combination, is none.
void LoadHotkeys(Hotkey (&hotkeys)[HOTKEY_ACTIONS]);
// Writes each set one and removes each unset one (and the section once nothing is left in it):
// a file that never had a hotkey stays byte for byte as it was. A read-only file is left as it is.
void SaveHotkeys(const Hotkey (&hotkeys)[HOTKEY_ACTIONS]);

// The monitor window's place on the screen (MonitorPosX, MonitorPosY), kept once it was opened;
// false while never kept (or unreadable).
bool LoadMonitorPosition(int32_t& x, int32_t& y);
void SaveMonitorPosition(int32_t x, int32_t y);
