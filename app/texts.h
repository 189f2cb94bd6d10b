// Every text the program shows that differs between its two languages, in one table: each
// text's Japanese, as the program has always shown it, and its English. Texts that read the
// same in both (Start, Stop, Kawauso04, ...) stay where they are. User-interface thread.
#pragma once

#include <windows.h>

#include "settings/settings_file.h"

enum TextId {
    // The main window and its menus.
    TEXT_PITCH_LABEL,
    TEXT_VOLUME_LABEL,
    TEXT_AUTO_CONNECT,
    TEXT_VST_LOAD_FIRST, // the template's, until the first load or unload
    TEXT_VST_LOAD,
    TEXT_VST_RELEASE,
    TEXT_VST_EDIT,
    TEXT_EXIT,
    TEXT_OPEN_PLUGIN,
    TEXT_PLUGIN_FILTER, // the file chooser's pairs of terminated strings
    TEXT_ISOLATE_ITEM,  // the system menu's
    // The About box.
    TEXT_ABOUT_GROUP,
    TEXT_PROGRAM_NAME,
    TEXT_REVISION,
    TEXT_AUTHOR,
    TEXT_TEAM,
    TEXT_SOURCES_GROUP,
    TEXT_WINDOWS_BUILD,
    TEXT_BUILD_SETUP,
    TEXT_UNIT_TESTS,
    TEXT_REAL_TESTS,
    TEXT_STREAM_COUNTERS, // a format: restarts, breaks
    TEXT_EFFECT_RESTARTS, // a format: the effect's restarts
    TEXT_EFFECT_LATE,     // a format: the effect's late blocks
    TEXT_EFFECT_AHEAD,    // follows it while the effect runs a block ahead
    // Boxes and balloons: what happened, and in English what to do next.
    TEXT_BAD_ARGUMENTS,
    TEXT_LOAD_FAILED,
    TEXT_OTHER_BITNESS_HOST, // a line added to it for a DLL of the other bitness (English only)
    TEXT_REFUSED_NOT_PE,     // why a DLL was refused before it was loaded, on a line of its own
    TEXT_REFUSED_MACHINE,
    TEXT_REFUSED_UNREADABLE,
    TEXT_CUT_LOOSE,
    TEXT_CUT_LOOSE_HUNG,
    TEXT_ISOLATE_NEXT_TIME, // a line added to the failed load and the fault above, when in this
                            // process
    TEXT_EFFECT_RESTARTED,
    TEXT_LOAD_SKIPPED,
    TEXT_DEVICES_GONE,
    TEXT_BAD_BUFFER_LENGTH,
    TEXT_MIXED_SYSTEMS,
    TEXT_DEVICE_NOT_OPENED,
    TEXT_START_WAITS_FOR_LOAD,
    TEXT_CHAIN_DROPPED, // the file names of the chain's effects that did not open follow it
    TEXT_CHAIN_ITEM,    // the system menu's
    TEXT_CHAIN_TITLE,
    TEXT_CHAIN_ADD,
    TEXT_CHAIN_REMOVE,
    TEXT_CHAIN_UP,
    TEXT_CHAIN_DOWN,
    TEXT_CHAIN_BYPASS,
    TEXT_CHAIN_EDITOR,
    TEXT_CHAIN_OWN_PROCESS,
    TEXT_CHAIN_ROW_OWN_PROCESS, // what a row says of an effect in a process of its own
    TEXT_CHAIN_ROW_BYPASSED,
    TEXT_CHAIN_ROW_OUT,  // of one the slot keeps that is not loaded now
    TEXT_CHAIN_COUNTERS, // a format: position, file name, faults, late blocks
    TEXT_SLOT_ITEM,      // the tray menu's, the slot's number follows
    TEXT_MUTE_ITEM,
    TEXT_BYPASS_ITEM,
    TEXT_MUTED_STATE, // in the title and the tray tip
    TEXT_BYPASSED_STATE,
    TEXT_RUN_AT_LOGON_ITEM, // the system menu's
    TEXT_HOTKEYS_ITEM,      // the system menu's
    TEXT_HOTKEYS_TITLE,
    TEXT_START_STOP_ROW,
    TEXT_HOTKEY_IN_USE,   // beside a row whose combination was refused
    TEXT_HOTKEYS_REFUSED, // the refused combinations follow it, a line each
    TEXT_CANCEL,
    TEXT_MONITOR_TITLE, // and the system menu's item
    TEXT_MONITOR_LEVEL, // a format: where, side, peak, RMS, held peak (dBFS), the clip mark
    TEXT_MONITOR_INPUT,
    TEXT_MONITOR_OUTPUT,
    TEXT_MONITOR_LEFT,
    TEXT_MONITOR_RIGHT,
    TEXT_MONITOR_CLIP,
    TEXT_MONITOR_DELAY,  // a format: the whole, the capture's, the queue's and playback's (ms)
    TEXT_MONITOR_DRIFT,  // a format: the skew and the correction (ppm), what is on its way and
                         // the target (ms)
    TEXT_MONITOR_EFFECT, // a format: position, file name, average and worst share (%), late
    TEXT_COUNT
};

// The text in the language shown.
const wchar_t* Text(TextId id);
// The text in either language, whichever is shown.
const wchar_t* TextIn(TextId id, Language language);
// Whether the text is (the start of) a box's or a balloon's, which the user's guide explains.
bool IsMessageText(TextId id);

// The language shown; Japanese until program entry reads the settings file.
Language ShownLanguage();
// Sets the language of every text looked up from now on; nothing shown changes by itself.
void ShowLanguage(Language language);

// Every text of the window's own controls, and every item of the menu, that the table holds
// in either language is put in the language shown; everything else (device names, values)
// is left alone.
void TranslateControls(HWND window);
void TranslateMenu(HMENU menu);
