#!/usr/bin/env bash
# ./run: without a display (here: as on a CI machine) it demonstrates the program on the
# virtual devices, writing demo files and a one-line summary; with one it starts the program
# with the options.
source "$(dirname "$0")/lib.sh"
e2e_environment
DEMO="$W/demo"

CI=1 ./run --reuse-env --out "$DEMO" > "$W/run.out" 2> "$W/run.err"
RUN_STATUS=$? SUMMARY=$(tail -n1 "$W/run.out")
echo "  $SUMMARY"
check "./run without a display: the demonstration ends well with a one-line summary" \
  eval '[ "$RUN_STATUS" = 0 ] && [[ "$SUMMARY" == "demo: "* ]]'
check "./run demonstration: the voice comes out one octave higher" \
  within "$(sed -n 's/.*(x\([0-9.]*\)).*/\1/p' <<< "$SUMMARY")" 1.8 2.2
recording() {  # name: 44100 Hz 16-bit stereo, not silent
  [ "$(soxi -r "$DEMO/$1") $(soxi -c "$DEMO/$1") $(soxi -b "$DEMO/$1")" = "44100 2 16" ] &&
    analyze level "$DEMO/$1" && within "$(field "$AOUT" rms)" 0.005 1 || { echo "  $1: $AOUT"; false; }
}
check "./run demonstration: input.wav and output.wav hold the phrase" eval \
  'recording input.wav && recording output.wav'
for PICTURE in window.png window-en.png; do
  read -r FORMAT WIDTH HEIGHT COLOURS <<< "$(/usr/bin/identify -format "%m %w %h %k" "$DEMO/$PICTURE")"
  check "./run demonstration: $PICTURE shows the window" eval '[ "$FORMAT" = PNG ] &&
    within "$WIDTH" 200 600 && within "$HEIGHT" 60 300 && [ "$COLOURS" -gt 8 ]'
done
check "./run demonstration: the English window differs from the Japanese one" eval \
  '! /usr/bin/compare -metric AE "$DEMO/window.png" "$DEMO/window-en.png" null: 2>/dev/null'
for PICTURE in monitor.png monitor-en.png; do
  read -r FORMAT WIDTH HEIGHT COLOURS <<< "$(/usr/bin/identify -format "%m %w %h %k" "$DEMO/$PICTURE")"
  check "./run demonstration: $PICTURE shows the monitor" eval '[ "$FORMAT" = PNG ] &&
    within "$WIDTH" 300 700 && within "$HEIGHT" 200 500 && [ "$COLOURS" -gt 8 ]'
done

# With a display: the program with its options (-t: in the tray, ended by the driver). It
# keeps its settings beside the built program; a user's file there is put back afterwards.
SETTINGS="$(dirname "$PROGRAM_EXE")/KaWUmi.ini"
[ -e "$SETTINGS" ] && mv "$SETTINGS" "$W/users-settings.ini"
env -u CI ./run -t -p6 > "$W/run-display.out" 2>&1 & PROGRAM_PID=$!
check "./run with a display: the program starts with the options (-t -p6)" eval \
  'drive wait 30000 && drive hidden 1000 && says 6 text $IDC_SLOT && says 1 tray'
check "./run with a display: the program ends when closed" close_program
rm -f "$SETTINGS"
if [ -e "$W/users-settings.ini" ]; then mv "$W/users-settings.ini" "$SETTINGS"; fi
