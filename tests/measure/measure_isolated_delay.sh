#!/usr/bin/env bash
# Click-to-echo delay through a copy effect in-process and in a host process (VstIsolated=1):
# two programs in one run started in turn, WASAPI 10 ms and WinMM 20 ms; each start's delay
# differs by tens of ms under Wine, so: median and range of the per-start medians (8 clicks).
#   STARTS=N tests/measure/measure_isolated_delay.sh   (needs scripts/build.sh win32)
CLICK_COUNT=8 && source "$(dirname "$0")/measure_lib.sh"

in_mode() { KAWAUSO_DRIVER_DIR="$(winepath -w "$W/$1")" drive "${@:2}"; }  # mode, driver args
one_start() {  # mode, name: the median delay of 8 clicks through one start of its stream
  local mode=$1; in_mode "$1" click $ID_START; sleep 2.5
  clicks_through "$W/$2.raw"; in_mode "$1" click $ID_STOP
  eventually 3 eval 'in_mode "$mode" enabled $ID_START && [ "$OUT" = 1 ]'
  echo "  $2: $AOUT" >&2; field "$AOUT" median_ms
}
summary() { sort -n "$W/$1.txt" | awk -v m="$1" '{ v[NR] = $1 } END {
  printf "%s %.1f ms (%.1f-%.1f, %d starts)", m, v[int((NR + 1) / 2)], v[1], v[NR], NR }'; }

for setting in "WinMM 20" "WASAPI 10"; do
  read -r system ms <<< "$setting"; prefix=""; [ "$system" = WASAPI ] && prefix="WASAPI: "
  for mode in in-process isolated; do
    instance "$mode" "$prefix" "BufferSize=$ms" "VstPath=$(winepath -w "$W/$mode")\\copy_through.dll" \
      VstActive=1 "$([ $mode = isolated ] && echo VstIsolated=1)"
    cp "$WIN32_TREE/kawauso-fxhost.exe" "$WIN32_TREE/tests/plugins/copy_through.dll" "$PROGRAM_DIR/"
    start_program && in_mode "$mode" wait 30000; E2E_PIDS+=("$PROGRAM_PID"); : > "$W/$mode.txt"
  done
  for start in $(seq 1 "${STARTS:-8}"); do
    for mode in in-process isolated; do one_start $mode "$system-$mode-$start" >> "$W/$mode.txt"; done
  done
  echo "$system $ms ms, median of the per-start medians: $(summary in-process), $(summary isolated)"
  for mode in in-process isolated; do in_mode $mode close; done; sleep 2
done
