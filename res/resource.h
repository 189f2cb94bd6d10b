// The identifiers of the program's resources, controls, commands, timers and messages. Shared
// by the resource script and the code.
#pragma once

#define IDD_MAIN 101
#define IDR_TRAYMENU 102
#define IDI_MAIN 103
#define IDD_ABOUT 106
#define IDD_CHAIN 107
#define IDD_HOTKEYS 108
#define IDD_MONITOR 109

#define IDC_WAVEIN 1001
#define IDC_WAVEOUT 1002
#define IDC_BUFFER_MS 1003
#define IDC_VOLUME 1006
#define IDC_HI 1008
#define IDC_LO 1009
#define IDC_PITCH 1010
#define IDC_VOLUME_LABEL 1012
#define IDC_VOLUME_VALUE 1013
#define IDC_VST_LOAD 1014
#define IDC_VST_EDIT 1015
#define IDC_PITCH_VALUE 1016
#define IDC_AUTO_CONNECT 1018
#define IDC_SLOT 1020
#define IDC_DETAIL_TOGGLE 1021
#define IDC_BUFFER_LABEL 1022
#define IDC_PITCH_LABEL 1023
#define IDC_ABOUT_COUNTERS 1030
#define IDC_ABOUT_EFFECT_RESTARTS 1031
#define IDC_ABOUT_EFFECT_BLOCKS 1032
#define IDC_ABOUT_CHAIN_EFFECTS 1033
#define IDC_CHAIN_LIST 1040
#define IDC_CHAIN_ADD 1041
#define IDC_CHAIN_REMOVE 1042
#define IDC_CHAIN_UP 1043
#define IDC_CHAIN_DOWN 1044
#define IDC_CHAIN_BYPASS 1045
#define IDC_CHAIN_EDITOR 1046
#define IDC_CHAIN_OWN_PROCESS 1047
#define IDC_HOTKEY_FIRST 1100       // the hotkeys window's rows: the control of action i is + i,
#define IDC_HOTKEY_LABEL_FIRST 1120 // its label
#define IDC_HOTKEY_STATE_FIRST 1140 // and what is said of it
#define IDC_MON_INPUT_L 1160
#define IDC_MON_INPUT_R 1161
#define IDC_MON_OUTPUT_L 1162
#define IDC_MON_OUTPUT_R 1163
#define IDC_MON_INPUT_L_BAR 1164
#define IDC_MON_INPUT_R_BAR 1165
#define IDC_MON_OUTPUT_L_BAR 1166
#define IDC_MON_OUTPUT_R_BAR 1167
#define IDC_MON_DELAY 1168
#define IDC_MON_DRIFT 1169
#define IDC_MON_EFFECTS 1170
#define IDC_MON_COUNTERS 1171

#define ID_START 40003
#define ID_STOP 40004
#define ID_EXIT 40005
#define ID_ABOUT 40006
#define ID_MUTE 40007
#define ID_BYPASS 40008
#define ID_SLOT_FIRST 40010 // the tray menu's slots: ID_SLOT_FIRST + index, 8 of them

#define TIMER_LEVEL 100
#define TIMER_STOP 101
#define TIMER_AUTOCONNECT 102
#define TIMER_BALLOON 103
#define TIMER_SAVE 104
#define TIMER_EFFECT_EDITED 105
#define TIMER_PLUGIN_DEFERRED 106

#define WM_TRAYNOTIFY 0x8001
#define WM_SLOT_PLUGIN_NOTICE 0x8002
#define WM_PLUGIN_FAULT_CHECK 0x8003 // sent by the editor's idle timer to its owner
#define WM_EDITOR_CLOSED 0x8004      // sent by the effect's editor window as it closes
#define WM_EFFECT_EDITED 0x8005      // the same window: the effect says its parameters changed
#define WM_REGISTER_HOTKEYS 0x8006   // posted by initialisation: once shown, take the hotkeys
#define TRAY_ICON_ID 101

// The system menu's own item: a WM_SYSCOMMAND code below the system's, its low four bits clear.
#define ID_ENGLISH 0x0110
#define ID_ISOLATE 0x0120
#define ID_CHAIN 0x0130
#define ID_RUN_AT_LOGON 0x0140
#define ID_HOTKEYS 0x0150
#define ID_MONITOR 0x0160
