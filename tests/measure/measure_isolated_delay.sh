#!/usr/bin/env bash
# Measures what running the effect in a process of its own adds to the delay from capture to
# playback: 8 clicks through a copy effect, one program with it in its own process and one
# with it in a host process (the slot's VstIsolated=1), both open in the same run and started
# in turn, several starts each, at WASAPI 10 ms and WinMM 20 ms buffers. The delay of each
# start differs by up to 20 ms under Wine (the device's phase), so the figures are the median
# and range of the per-start medians, and the difference of the two medians.
#
#   tests/measure/measure_isolated_delay.sh [--starts N]
# Needs the win32 build (scripts/build.sh win32). Runs in its own private display, sound
# server and Wine prefix under build/measure-env.
set -u
cd "$(dirname "$0")/../.."
STARTS=8
case "${1:-}" in
  --starts) STARTS="$2" ;;
  "") ;;
  *) echo "usage: tests/measure/measure_isolated_delay.sh [--starts N]" >&2; exit 2 ;;
esac
export TESTENV_ROOT="$PWD/build/measure-env"
source tests/scripts/lib.sh  # the end-to-end suites' helpers; it goes to the checkout's root
e2e_environment
E2E_MODULES+=("$(pactl load-module module-combine-sink sink_name=kawauso_both \
  slaves=mic_src,spk adjust_time=0 sink_properties=device.description=KawausoBoth)")
sox -n -r 44100 -b 16 -c 2 -e signed "$W/click.wav" synth 0.00045 square 0.5 gain -2 2>/dev/null
sox "$W/click.wav" -t raw "$W/clicks.raw" pad 0.2 0.2995 repeat 7 2>/dev/null
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(wine --version)"

in_mode() { KAWAUSO_DRIVER_DIR="$(winepath -w "$W/$1")" drive "${@:2}"; }  # mode, driver args
stopped() {  # Start takes input again within 3 s
  local i
  for i in $(seq 1 30); do in_mode "$1" enabled $ID_START && [ "$OUT" = 1 ] && return 0; sleep 0.1; done
}
one_start() {  # mode, name: the median delay of 8 clicks through one start of its stream
  in_mode "$1" click $ID_START; sleep 2.5
  record_start spk "$W/$2.raw"; sleep 0.2; pacat --playback --raw -d kawauso_both "$W/clicks.raw"
  sleep 0.5; record_stop
  in_mode "$1" click $ID_STOP; stopped "$1"
  analyze latency "$W/$2.raw" 0.3 300; echo "  $2: $AOUT" >&2; field "$AOUT" median_ms
}
median_spread() {  # numbers on stdin
  sort -n | awk '{ v[NR] = $1 } END { if (NR) printf "%.1f %.1f %.1f %d", v[int((NR + 1) / 2)],
    v[1], v[NR], NR; else printf "none" }'
}

for setting in "WinMM 20" "WASAPI 10"; do
  read -r system ms <<< "$setting"; prefix=""; [ "$system" = WASAPI ] && prefix="WASAPI: "
  for mode in in-process isolated; do
    isolated=(); [ $mode = isolated ] && isolated=(VstIsolated=1)
    new_instance "$mode" "[Settings00]" "BufferSize=$ms" "WaveInCapsName=${prefix}Monitor of TestMic" \
      "WaveOutCapsName=${prefix}TestSpeaker" "VstPath=$(winepath -w "$W/$mode")\\copy_through.dll" \
      VstActive=1 "${isolated[@]}"
    cp "$WIN32_TREE/kawauso-fxhost.exe" "$WIN32_TREE/tests/plugins/copy_through.dll" "$PROGRAM_DIR/"
    start_program && in_mode "$mode" wait 30000; E2E_PIDS+=("$PROGRAM_PID"); : > "$W/$mode.txt"
  done
  for start in $(seq 1 "$STARTS"); do
    for mode in in-process isolated; do one_start $mode "$system-$mode-$start" >> "$W/$mode.txt"; done
  done
  read -r in in_low in_high n < <(median_spread < "$W/in-process.txt")
  read -r iso iso_low iso_high n_iso < <(median_spread < "$W/isolated.txt")
  echo "$system $ms ms, median of the per-start medians (range, starts): in-process $in ms" \
    "($in_low-$in_high, $n), isolated $iso ms ($iso_low-$iso_high, $n_iso): isolated adds" \
    "$(calc "$iso - $in") ms"
  for mode in in-process isolated; do in_mode $mode close; done; sleep 2
done
