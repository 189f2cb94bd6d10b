#!/usr/bin/env bash
# The real Kawauso04.exe under Wine, without sound (that is e2e_audio_test.sh): its command
# line, the tray icon clicked through the shell, the settings file it leaves behind.
source "$(dirname "$0")/lib.sh"
e2e_environment
MESSAGE="引数を理解できませんでした。"
shown() { drive window && [[ "$OUT" == "visible=$1 iconic=0 $2"* ]] || { echo "  $OUT"; false; }; }
# Sections and keys of a settings file; the program creates it UTF-16, for Japanese texts.
keys() { iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r' | sed 's/=.*//' | xargs; }
KEYS="[Settings00] BufferSize WaveInCapsName WaveOutCapsName VstPath Volume FreqRatio AutoRestart ShowDetail DlgPosX DlgPosY"

# -p8 -t: the box for a bad option (which ones are, the core tests'), then start-up goes on:
# slot 0 hidden, the icon in the tray; its left click restores, minimise hides again, the tray
# menu's EXIT ends the program and writes a new settings file (none was there).
new_instance first-start
start_program -p8 -t
check "-p8 -t: the box ERROR says $MESSAGE" says "$MESSAGE" wait 30000 ERROR
drive dismiss ERROR
check "-p8 -t: then slot 0, never shown, the icon in the tray" eval \
  'drive hidden 1500 && says 0 text $IDC_SLOT && says 1 tray'
check "a left click on the icon shows the window and removes the icon" eval \
  'drive tray-click && eventually 3 shown 1 && says 0 tray'
check "minimise hides the window into the tray" eval \
  'drive minimise && eventually 3 shown 0 && says 1 tray'
check "the tray menu's EXIT ends the program and removes the icon" eval \
  'drive tray-exit && exited && says 0 tray'
check "a first start writes a new UTF-16 settings file: slot 0, its keys in order" eval \
  '[ "$(keys "$PROGRAM_DIR/KaWUmi.ini")" = "$KEYS" ]'

# English chosen from the system menu holds for the next start, which reads the language
# before its command line.
new_instance english
start_program
# (A menu opened on a busy machine may miss the keys: chosen again until the caption says so.)
drive wait 30000 && for attempt in 1 2 3; do  # all the texts: the Windows tier
  drive text $IDC_VST_LOAD && [ "$OUT" = "Load &VST" ] && break
  drive system-menu; eventually 3 says "Load &VST" text $IDC_VST_LOAD > /dev/null
done
close_program
start_program -x
check "restarted in English: its box and labels, Language=en kept in [Kawauso04]" eval '
  drive wait 30000 ERROR && [[ "$OUT" == "The command line was not understood."* ]] &&
  drive dismiss ERROR && drive wait 30000 && says "Load &VST" text $IDC_VST_LOAD &&
  ini | grep -A1 -Fx "[Kawauso04]" | grep -qx Language=en'
close_program

# The session's end, the window in the tray: the program lets it end and saves its slot at once
# (the system then ends the process without a close).
new_instance session-end
start_program -t
drive wait 30000 && drive scroll $IDC_VOLUME -70
check "the session may end, and the slot is saved as it ends" eval \
  'says 1 end-session && ini | grep -qx Volume=-70'
kill "$PROGRAM_PID" && wait "$PROGRAM_PID" 2>/dev/null; PROGRAM_PID=""
