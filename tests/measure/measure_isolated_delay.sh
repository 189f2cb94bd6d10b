#!/usr/bin/env bash
# Click-to-echo delay through a copy effect in-process and in a host process (VstIsolated=1),
# and through heavy_blocks in a host process (70 % of each block's time: it runs a block
# ahead): three programs in one run started in turn, WASAPI 10 ms and WinMM 20 ms; each start's
# delay differs by tens of ms under Wine, so: median and range of the per-start medians (8
# clicks). The program is the suites' (the 32-bit one where it runs).
#   STARTS=N tests/measure/measure_isolated_delay.sh   (needs scripts/build.sh)
CLICK_COUNT=8 && source "$(dirname "$0")/measure_lib.sh"

in_mode() { KAWAUSO_DRIVER_DIR="$(winpath "$W/$1")" drive "${@:2}"; }  # mode, driver args
one_start() {  # mode, name: the median delay of 8 clicks through one start of its stream
  local mode=$1; in_mode "$1" click $ID_START; sleep 2.5
  clicks_through "$W/$2.raw"; in_mode "$1" click $ID_STOP
  eventually 3 eval 'in_mode "$mode" enabled $ID_START && [ "$OUT" = 1 ]'
  echo "  $2: $AOUT" >&2; field "$AOUT" median_ms
}
summary() { sort -n "$W/$1.txt" | awk -v m="$1" '{ v[NR] = $1 } END {
  printf "%s %.1f ms (%.1f-%.1f, %d starts)", m, v[int((NR + 1) / 2)], v[1], v[NR], NR }'; }

MODES="in-process isolated ahead"
for setting in "WinMM 20" "WASAPI 10"; do
  read -r system ms <<< "$setting"; prefix=""; [ "$system" = WASAPI ] && prefix="WASAPI: "
  for mode in $MODES; do
    effect=copy_through && [ $mode = ahead ] && effect=heavy_blocks
    instance "$mode" "$prefix" "BufferSize=$ms" "VstPath=$(winpath "$W/$mode")\\$effect.dll" \
      VstActive=1 "$([ $mode != in-process ] && echo VstIsolated=1)"
    cp "$PROGRAM_TREE/kawauso-fxhost.exe" "$PROGRAM_TREE/tests/plugins/$effect.dll" "$PROGRAM_DIR/"
    start_program && in_mode "$mode" wait 30000; E2E_PIDS+=("$PROGRAM_PID"); : > "$W/$mode.txt"
  done
  for start in $(seq 1 "${STARTS:-8}"); do
    for mode in $MODES; do one_start $mode "$system-$mode-$start" >> "$W/$mode.txt"; done
  done
  echo "$system $ms ms, median of the per-start medians: $(summary in-process)," \
    "$(summary isolated), $(summary ahead)"
  for mode in $MODES; do in_mode $mode close; done; sleep 2
done
