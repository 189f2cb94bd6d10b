#!/usr/bin/env bash
# ./run: without a display (here: as on a CI machine) it demonstrates the program on the
# virtual devices and writes demo files with a one-line summary; with a display it starts
# the program itself, passing the program's options on.
source "$(dirname "$0")/lib.sh"
cd "$ROOT"
source tests/scripts/e2e_lib.sh
e2e_prerequisites
e2e_environment

DEMO="$W/demo"

summary_shows_octave() {
  local ratio
  ratio=$(sed -n 's/.*(x\([0-9.]*\)).*/\1/p' <<< "$SUMMARY")
  within "$ratio" 1.8 2.2 || { echo "  summary: $SUMMARY"; return 1; }
}

recordings_written() {
  local f
  for f in input output; do
    [ "$(soxi -r "$DEMO/$f.wav")" = 44100 ] && [ "$(soxi -c "$DEMO/$f.wav")" = 2 ] &&
      [ "$(soxi -b "$DEMO/$f.wav")" = 16 ] || { echo "  $f.wav: $(soxi "$DEMO/$f.wav" 2>&1 | tr '\n' ' ')"; return 1; }
    analyze level "$DEMO/$f.wav"
    within "$(field "$AOUT" rms)" 0.005 1 || { echo "  $f.wav: $AOUT"; return 1; }
  done
}

window_picture() {
  [ "$(/usr/bin/identify -format '%m' "$DEMO/window.png" 2>/dev/null)" = PNG ] &&
    within "$(/usr/bin/identify -format '%w' "$DEMO/window.png")" 200 600 &&
    within "$(/usr/bin/identify -format '%h' "$DEMO/window.png")" 60 300
}

# CI set: the demonstration, in the private environment the test runner already started.
rm -rf "$DEMO"
CI=1 ./run --reuse-env --out "$DEMO" > "$W/run.out" 2> "$W/run.err"
RUN_STATUS=$?
SUMMARY=$(tail -n1 "$W/run.out")
echo "  $SUMMARY"
check "./run without a display: the demonstration ends well with a one-line summary" \
  eval '[ "$RUN_STATUS" = 0 ] && [[ "$SUMMARY" == "demo: "* ]]'
check "./run demonstration: the voice comes out one octave higher" summary_shows_octave
check "./run demonstration: input.wav and output.wav hold the phrase" recordings_written
check "./run demonstration: window.png shows the window" window_picture

# With a display: the program itself, with its options (here -t, so it starts in the
# tray and the driver ends it). It keeps its settings beside the built executable; the
# user's file there is put back afterwards.
SETTINGS="${PROGRAM_EXE%/*}/KaWUmi.ini"
if [ -e "$SETTINGS" ]; then cp "$SETTINGS" "$W/users-settings.ini"; fi
# CI machines set CI, which would choose the demonstration; this check is about a desktop.
env -u CI ./run -t -p6 > "$W/run-display.out" 2>&1 &
PROGRAM_PID=$!
check "./run with a display: the program starts, options passed (-t: in the tray)" \
  eval 'drive wait-main 30000 && drive never-visible 1000 + text $IDC_SLOT + tray-icon && [ "$(tail -n2 <<< "$OUT")" = $'"'"'6\n1'"'"' ]'
drive tray-menu exit
check "./run with a display: EXIT ends it" wait_program_exit 15
rm -f "$SETTINGS"
if [ -e "$W/users-settings.ini" ]; then cp "$W/users-settings.ini" "$SETTINGS"; fi
