#!/usr/bin/env bash
# Kawauso04.exe end to end, what the user sees: the real program under Wine, driven from a
# separate process through window messages. Start-up with and without a settings file,
# -p3, -t and the tray icon, bad options, the controls, the About box, auto-connect at
# start-up, and the settings file after exit. The sound itself: e2e_audio_test.sh.
source "$(dirname "$0")/lib.sh"
cd "$ROOT"
source tests/scripts/e2e_lib.sh
e2e_prerequisites
e2e_environment

read_state() {
  drive state
  STATE="$OUT"
}

# The control's line in the last state dump has every expected key=value.
shows() {  # id, key=value...
  local id="$1"; shift
  local line
  line=$(echo "$STATE" | grep "^$id ")
  local expected
  for expected in "$@"; do
    case "$line " in
      *" $expected "*) ;;
      *) echo "  control $id: '$line' lacks '$expected'"; return 1 ;;
    esac
  done
}

# A key of the main window's "visible=1 enabled=1 iconic=0 rect=L,T,R,B client=WxH".
main_field() {  # key
  drive main-state && field "$OUT" "$1"
}

main_corner() { main_field rect | cut -d, -f1-2; }

window_height() { main_field rect | awk -F, '{ print $4 - $2 }'; }

main_shows() {  # key=value...
  drive main-state || return 1
  local expected
  for expected in "$@"; do
    case " $OUT " in
      *" $expected "*) ;;
      *) echo "  main window: '$OUT' lacks '$expected'"; return 1 ;;
    esac
  done
}

settings_equal() {  # file, expected lines...
  local file="$1"; shift
  local expected actual
  expected=$(printf '%s\n' "$@")
  actual=$(ini_lines "$file")
  [ "$actual" = "$expected" ] && return 0
  diff <(echo "$expected") <(echo "$actual") | sed 's/^/  /'
  return 1
}

last_line_is() {  # expected
  [ "$(tail -n1 <<< "$OUT")" = "$1" ] && return 0
  echo "  last line '$(tail -n1 <<< "$OUT")', expected '$1'"
  return 1
}

# --- First start: no settings file ------------------------------------------------------
first_start_window() { main_shows visible=1 iconic=0 && [ "$(main_corner)" = 0,0 ]; }
first_start_values() {
  shows $IDC_BUFFER_MS text=50 && shows $IDC_PITCH pos=0 && shows $IDC_VOLUME pos=0 &&
    shows $IDC_PITCH_VALUE text=+0 && shows $IDC_VOLUME_VALUE text=1.00 && shows $IDC_SLOT text=0
}
first_start_buttons() {
  shows $ID_START enabled=1 && shows $ID_STOP enabled=0 && shows $IDC_VST_EDIT enabled=0 &&
    shows $IDC_VST_LOAD "text=VST読込(&R)" && shows $IDC_AUTO_CONNECT check=0 enabled=1 &&
    shows $IDC_WAVEIN enabled=1 && shows $IDC_WAVEOUT enabled=1
}
detail_row_shown() {
  shows $IDC_DETAIL_TOGGLE text=▲ && shows $IDC_BUFFER_LABEL visible=1 &&
    shows $IDC_BUFFER_MS visible=1 && shows $IDC_VST_LOAD visible=1 &&
    shows $IDC_VST_EDIT visible=1 && shows $ID_ABOUT visible=1
}
device_lists_hold_devices() {
  grep -qx "$CAPTURE_NAME" <<< "$CAPTURE_ITEMS" && grep -qx "$PLAYBACK_NAME" <<< "$PLAYBACK_ITEMS" &&
    ! grep -qx "$PLAYBACK_NAME" <<< "$CAPTURE_ITEMS"
}
first_items_selected() {
  [ "$FIRST_CAPTURE" = "0 $(head -n1 <<< "$CAPTURE_ITEMS")" ] &&
    [ "$FIRST_PLAYBACK" = "0 $(head -n1 <<< "$PLAYBACK_ITEMS")" ]
}

new_instance first-start
start_program
check "first start: the main window opens" drive wait-main 30000
read_state
check "first start: shown at the top-left corner, not minimised" first_start_window
check "first start: default buffer, sliders, labels and slot" first_start_values
check "first start: Start on, Stop off, no plug-in, auto-connect off" first_start_buttons
check "first start: the detail row is shown" detail_row_shown
drive items $IDC_WAVEIN; CAPTURE_ITEMS="$OUT"
drive items $IDC_WAVEOUT; PLAYBACK_ITEMS="$OUT"
drive combo $IDC_WAVEIN; FIRST_CAPTURE="$OUT"
drive combo $IDC_WAVEOUT; FIRST_PLAYBACK="$OUT"
check "first start: the device lists hold the devices present" device_lists_hold_devices
check "first start: item 0 of both device lists is selected" first_items_selected
check "first start: slots 0 to 7" drive_says "$(printf '%s\n' 0 1 2 3 4 5 6 7)" items $IDC_SLOT

# The pitch and volume controls, as a user works them. A reset posts its recomputation,
# so its label is waited for.
pitch_button() {  # id, label, position
  drive click "$1" && wait_text $IDC_PITCH_VALUE "$2" 3 && drive_says "$3" pos $IDC_PITCH
}
label_reset() {  # label id, value id, text, trackbar id
  drive command "$1" && wait_text "$2" "$3" 3 && drive_says 0 pos "$4"
}
check "Hi sets the pitch an octave up" pitch_button $IDC_HI +200 -200
check "Lo sets the pitch an octave down" pitch_button $IDC_LO -200 200
check "a click on the pitch label resets the pitch" \
  label_reset $IDC_PITCH_LABEL $IDC_PITCH_VALUE +0 $IDC_PITCH
check "the pitch slider drives its label" \
  drive_says $'-37\n+37' scroll $IDC_PITCH -37 + text $IDC_PITCH_VALUE
check "the volume slider at the top shows 10.00, at the bottom 0.10" \
  drive_says $'-100\n10.00\n100\n0.10' scroll $IDC_VOLUME -100 + text $IDC_VOLUME_VALUE + \
  scroll $IDC_VOLUME 100 + text $IDC_VOLUME_VALUE
check "a click on the volume label resets the volume" \
  label_reset $IDC_VOLUME_LABEL $IDC_VOLUME_VALUE 1.00 $IDC_VOLUME

# The detail row, hidden and shown again.
detail_row_hidden() {
  shows $IDC_DETAIL_TOGGLE text=▼ && shows $IDC_BUFFER_LABEL visible=0 &&
    shows $IDC_BUFFER_MS visible=0 && shows $IDC_VST_LOAD visible=0 &&
    shows $IDC_VST_EDIT visible=0 && shows $ID_ABOUT visible=0
}
HEIGHT_SHOWN=$(window_height)
drive click $IDC_DETAIL_TOGGLE
read_state
check "the detail toggle hides the row" detail_row_hidden
check "the detail toggle shrinks the window by 22 pixels" [ $(( HEIGHT_SHOWN - $(window_height) )) = 22 ]
drive click $IDC_DETAIL_TOGGLE
read_state
check "the detail toggle again shows the row" detail_row_shown
check "the detail toggle again restores the height" [ "$(window_height)" = "$HEIGHT_SHOWN" ]

# The About box: modal, naming the program and its revision; Escape and the close box end it.
about_contents() {
  drive message-box About 5000 && grep -qx Kawauso04 <<< "$OUT" && grep -qx 1.0 <<< "$OUT" &&
    grep -qx "VST PlugIn Technology by Steinberg" <<< "$OUT" && main_shows enabled=0
}
drive post-click $ID_ABOUT
check "About opens a modal box naming the program and its revision" about_contents
check "Escape closes the About box, the main window takes input again" \
  eval 'drive dismiss About escape && main_shows enabled=1'
drive post-click $ID_ABOUT
check "the About box's close box closes it" drive wait-window About 5000 + dismiss About close

# Slot 0 changed, then slot 1 chosen and changed, the window moved, the program closed:
# only slot 1 is written, with its ten keys in their order.
other_slot_defaults() {
  shows $IDC_SLOT text=1 && shows $IDC_VOLUME pos=0 && shows $IDC_VOLUME_VALUE text=1.00 &&
    shows $IDC_BUFFER_MS text=50
}
drive scroll $IDC_VOLUME 30 + set-text $IDC_BUFFER_MS 44 + select $IDC_SLOT 1
read_state
check "another slot shows its own (default) values" other_slot_defaults
drive scroll $IDC_PITCH 40 + set-text $IDC_BUFFER_MS 35 + move 120 90
check "closing ends the program" close_program
check "the program exits with status 0" [ "${PROGRAM_STATUS:-x}" = 0 ]
check "a new settings file holds only the current slot, keys in order" \
  settings_equal "$PROGRAM_DIR/KaWUmi.ini" "[Settings01]" "BufferSize=35" \
  "WaveInCapsName=${FIRST_CAPTURE#0 }" "WaveOutCapsName=${FIRST_PLAYBACK#0 }" "VstPath=" \
  "Volume=0" "FreqRatio=40" "AutoRestart=0" "ShowDetail=1" "DlgPosX=120" "DlgPosY=90"

# --- Start-up from a settings file: slot 0, and slot 3 by -p3 ----------------------------
SLOT0=("[Settings00]" "BufferSize=20" "WaveInCapsName=$CAPTURE_NAME"
       "WaveOutCapsName=$PLAYBACK_NAME" "VstPath=" "Volume=-50" "FreqRatio=100" "AutoRestart=0"
       "ShowDetail=1" "DlgPosX=40" "DlgPosY=30")
SLOT3_HEAD=("[Settings03]" "BufferSize=30" "WaveInCapsName=Monitor of TestSpeaker"
            "WaveOutCapsName=TestMic" "VstPath=C:\\プラグイン\\effect.dll")
SLOT3_TAIL=("FreqRatio=-200" "AutoRestart=0" "ShowDetail=0" "DlgPosX=100" "DlgPosY=80"
            "Extra=kept")
SLOT5=("[Settings05]" "BufferSize=70" "Volume=12")

slot0_values() {
  shows $IDC_WAVEIN "text=$CAPTURE_NAME" && shows $IDC_WAVEOUT "text=$PLAYBACK_NAME" &&
    shows $IDC_BUFFER_MS text=20 && shows $IDC_VOLUME pos=-50 && shows $IDC_VOLUME_VALUE text=3.16 &&
    shows $IDC_PITCH pos=100 && shows $IDC_PITCH_VALUE text=-100 && shows $IDC_SLOT text=0
}
slot3_values() {
  shows $IDC_SLOT text=3 && shows $IDC_WAVEIN "text=Monitor of TestSpeaker" &&
    shows $IDC_WAVEOUT text=TestMic && shows $IDC_BUFFER_MS text=30 && shows $IDC_VOLUME pos=100 &&
    shows $IDC_VOLUME_VALUE text=0.10 && shows $IDC_PITCH pos=-200 && shows $IDC_PITCH_VALUE text=+200
}

new_instance from-file "${SLOT0[@]}" "${SLOT3_HEAD[@]}" "Volume=500" "${SLOT3_TAIL[@]}" "${SLOT5[@]}"
start_program
drive wait-main 30000
read_state
check "slot 0 from the file: the window at its saved position" [ "$(main_corner)" = 40,30 ]
check "slot 0 from the file: devices, buffer, sliders and labels" slot0_values
HEIGHT_FULL=$(window_height)
close_program
check "closing unchanged rewrites the file as it was" settings_equal "$PROGRAM_DIR/KaWUmi.ini" \
  "${SLOT0[@]}" "${SLOT3_HEAD[@]}" "Volume=500" "${SLOT3_TAIL[@]}" "${SLOT5[@]}"

start_program -p3
drive wait-main 30000
sleep 0.5  # the posted detail toggle
read_state
check "-p3: slot 3's window position" [ "$(main_corner)" = 100,80 ]
check "-p3: slot 3's devices, buffer and sliders (volume 500 held at 100)" slot3_values
check "-p3: slot 3's hidden detail row" detail_row_hidden
check "-p3: the window 22 pixels shorter" [ $(( HEIGHT_FULL - $(window_height) )) = 22 ]
drive scroll $IDC_VOLUME -100
close_program
check "-p3: only slot 3 is rewritten, its Japanese path and other keys kept" \
  settings_equal "$PROGRAM_DIR/KaWUmi.ini" \
  "${SLOT0[@]}" "${SLOT3_HEAD[@]}" "Volume=-100" "${SLOT3_TAIL[@]}" "${SLOT5[@]}"

# --- Bad options -------------------------------------------------------------------------
no_main_window() { ! drive wait-main 0; }
tray_start_on_slot0() {
  drive never-visible 1500 + text $IDC_SLOT + tray-icon && [ "$(tail -n2 <<< "$OUT")" = $'0\n1' ]
}
first_section_is() {  # section
  [ "$(ini_lines "$PROGRAM_DIR/KaWUmi.ini" | head -n1)" = "$1" ]
}

new_instance bad-option
start_program -x
check "-x: a message box with caption ERROR says the argument was not understood" \
  drive_says "引数を理解できませんでした。" message-box ERROR 30000
check "-x: no main window while the message is shown" no_main_window
check "-x: after OK, start-up goes on to the main window" \
  eval 'drive dismiss ERROR && drive wait-main 15000 && main_shows visible=1'
close_program

new_instance bad-slot
start_program -p8 -t
check "-p8 -t: the message box" drive_says "引数を理解できませんでした。" message-box ERROR 30000
drive dismiss ERROR
check "-p8 -t: then slot 0, started in the notification area" tray_start_on_slot0
drive tray-menu exit
wait_program_exit 15
check "-p8 -t: EXIT from the tray menu saves slot 0" first_section_is "[Settings00]"

# --- -t: the notification area -----------------------------------------------------------
restored_by_click() {
  drive tray-click left + sleep 500 && main_shows visible=1 enabled=1 iconic=0 &&
    [ "$(main_corner)" = 0,0 ] && drive_says 0 tray-icon
}
minimised_to_tray() {
  drive minimise + sleep 500 && main_shows visible=0 iconic=0 && drive_says 1 tray-icon
}
saved_slot2_position() {
  local f
  f=$(ini_lines "$PROGRAM_DIR/KaWUmi.ini")
  [ "$(head -n1 <<< "$f")" = "[Settings02]" ] && grep -qx DlgPosX=64 <<< "$f" &&
    grep -qx DlgPosY=48 <<< "$f" && [ "$(grep -c '^\[' <<< "$f")" = 1 ]
}

new_instance tray
start_program -t -p2
check "-t: the main window is never shown" drive never-visible 3000
check "-t: the tray icon is there" drive_says 1 tray-icon
check "-t: a left click on the icon shows the window at its place, icon removed" restored_by_click
check "the minimise button hides the window into the tray, never minimised" minimised_to_tray
check "the tray menu opens and closes on Escape, the window stays hidden" \
  eval 'drive tray-menu none && main_shows visible=0'
drive move 64 48
check "-t: EXIT from the tray menu ends the program" \
  eval 'drive tray-menu exit && wait_program_exit 15 && [ "$PROGRAM_STATUS" = 0 ]'
check "-t: the icon is gone after EXIT" drive_says 0 tray-icon
check "-t: EXIT saved slot 2 with the window's position" saved_slot2_position

# --- Auto-connect at start-up with an absent device --------------------------------------
absent_device_listed() {
  drive items $IDC_WAVEOUT && last_line_is "Gone Speaker" && shows $IDC_WAVEOUT "text=Gone Speaker"
}
waiting_for_device() {
  shows $IDC_AUTO_CONNECT check=1 && shows $IDC_WAVEIN enabled=0 && shows $IDC_WAVEOUT enabled=0 &&
    shows $ID_START enabled=1 && shows $ID_STOP enabled=0
}

new_instance absent-device "[Settings00]" "WaveInCapsName=$CAPTURE_NAME" \
  "WaveOutCapsName=Gone Speaker" "AutoRestart=1"
start_program
drive wait-main 30000
sleep 2.5  # two watcher ticks
read_state
check "auto-connect on: the absent device is listed last and selected" absent_device_listed
check "auto-connect on: check box set, device lists disabled, nothing started" waiting_for_device
close_program
check "auto-connect stays saved on" eval 'ini_lines "$PROGRAM_DIR/KaWUmi.ini" | grep -qx AutoRestart=1'
