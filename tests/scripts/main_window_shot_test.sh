#!/usr/bin/env bash
# The main window as the display shows it, with the Japanese font: the in-process dialog
# test takes the picture (and checks the window's size and labels); here it becomes the
# kept artefact build/results/main-window.png.
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

APPTESTS=build/win32/tests/kawauso-apptests.exe
BMP=build/results/main-window-win32.bmp
PNG=build/results/main-window.png
CONVERT=/usr/bin/convert
IDENTIFY=/usr/bin/identify

# Taken afresh, so the artefact always shows the program as built now.
rm -f "$BMP" "$PNG"
check "the picture test passes" bash -c \
  "wine $APPTESTS --gtest_filter='MainWindowShot.*' > '$WORK/apptests.log' 2>&1"
check "the picture was written" test -s "$BMP"
"$CONVERT" "$BMP" "$PNG" 2> "$WORK/convert.err"
check "kept as main-window.png" test -s "$PNG"
check "the PNG has the window's size" bash -c \
  "[ \"\$($IDENTIFY -format '%wx%h' '$PNG')\" = \"\$($IDENTIFY -format '%wx%h' '$BMP')\" ]"
check "the PNG shows a drawn window, not one colour" bash -c \
  "[ \"\$($IDENTIFY -format '%k' '$PNG')\" -gt 16 ]"
