#!/usr/bin/env bash
# Measures the live stream of the real program under Wine on the virtual devices, for the
# figures in README.md (too slow for every ./test run):
#   * the delay from capture to playback, with clicks, at buffer lengths 10, 20 and 50 ms
#     (several starts each, since it varies from one start to the next);
#   * dropouts in 60 s of a continuous tone at 20 ms buffers, counted in the recording of
#     TestSpeaker and, to tell the program's from the feeder's, in the fed signal too;
#   * the time from Start to the first sound;
#   * how Stop's fade-out comes out, with and without a low-latency client on TestSpeaker.
#
#   scripts/measure_stream.sh [--starts N] [--minutes M]
# Needs the builds (scripts/build.sh). Runs in its own private display, sound server and
# Wine prefix under build/measure-env.
set -u
cd "$(dirname "$0")/.."
STARTS=3
MINUTES=1
while [ $# -gt 0 ]; do
  case "$1" in
    --starts) shift; STARTS="$1" ;;
    --minutes) shift; MINUTES="$1" ;;
    *) echo "usage: scripts/measure_stream.sh [--starts N] [--minutes M]" >&2; exit 2 ;;
  esac
  shift
done

export TESTENV_ROOT="$PWD/build/measure-env"
source tests/scripts/lib.sh  # the end-to-end suites' helpers; it goes to the checkout's root
e2e_environment

DEVICES=("WaveInCapsName=Monitor of TestMic" "WaveOutCapsName=TestSpeaker")
CLICKS="$W/clicks.raw"
sox -n -r 44100 -b 16 -c 2 -e signed "$W/click.wav" synth 0.00045 square 0.5 gain -2 2>/dev/null
sox "$W/click.wav" -t raw "$CLICKS" pad 0.2 0.2995 repeat 15 2>/dev/null

stopped() {  # within 3 s the stream has stopped (Start takes input again)
  local i
  for i in $(seq 1 30); do drive enabled $ID_START && [ "$OUT" = 1 ] && return 0; sleep 0.1; done
  return 1
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(wine --version)"

# --- Delay from capture to playback ---------------------------------------------------------
MODULE=$(pactl load-module module-combine-sink sink_name=kawauso_both \
  slaves=mic_src,spk adjust_time=0 sink_properties=device.description=KawausoBoth)
E2E_MODULES+=("$MODULE")
new_instance latency "[Settings00]" "${DEVICES[@]}"
start_program
drive wait 30000
for ms in 10 20 50; do
  all=""
  for start in $(seq 1 "$STARTS"); do
    drive set-text $IDC_BUFFER_MS "$ms"
    drive click $ID_START
    sleep 2.5
    record_start spk "$W/latency-$ms-$start.raw"
    sleep 0.2
    pacat --playback --raw -d kawauso_both "$CLICKS"
    sleep 0.5
    record_stop
    drive click $ID_STOP
    stopped
    analyze latency "$W/latency-$ms-$start.raw" 0.3 300
    all="$all,$(field "$AOUT" all)"
  done
  echo "$all" | tr ',' '\n' | grep . | sort -n | awk -v ms="$ms" -v starts="$STARTS" '
    { v[NR] = $1 } END {
      if (NR == 0) { printf "latency %d ms buffers: no click came through\n", ms; exit }
      printf "latency %d ms buffers: median %.0f ms, range %.0f-%.0f ms (%d clicks, %d starts)\n",
             ms, v[int((NR + 1) / 2)], v[1], v[NR], NR, starts }'
done
close_program
pactl unload-module "$MODULE"
E2E_MODULES=()

# --- Dropouts at 20 ms --------------------------------------------------------------------
SECONDS_LONG=$((MINUTES * 60))
feed_tone 450 $((SECONDS_LONG + 60)) -12
new_instance dropouts "[Settings00]" "BufferSize=20" "${DEVICES[@]}"
start_program
drive wait 30000
record_start spk "$W/first-sound.raw"
sleep 0.3
drive click $ID_START
sleep 3.2
record_stop
analyze shape "$W/first-sound.raw"
echo "first sound: $(awk -v s="$(field "$AOUT" start)" 'BEGIN { printf "%.2f", s - 0.3 - 0.1 }') s after Start (fade-in begins; 10 % reached 0.1 s later)"
# TestSpeaker and, at the same time, the fed signal, whose own dropouts are the feeder's.
record_start mic_src "$W/fed.raw"
fed_recorder=$RECORD_PID
record_start spk "$W/steady.raw"
drive click $ID_ABOUT; drive text $IDC_ABOUT_COUNTERS About; counters_before=$OUT; drive dismiss About
sleep "$SECONDS_LONG"
record_stop
kill "$fed_recorder"
drive click $ID_ABOUT; drive text $IDC_ABOUT_COUNTERS About; counters_after=$OUT; drive dismiss About
echo "the program's own counters (About box) before and after the $SECONDS_LONG s: $counters_before; $counters_after"

# Stop's fade-out as heard: 10-90 % fall time of the level at the end (a cut shows 10-20).
stop_falls() {
  local falls="" i
  for i in 1 2 3; do
    record_start spk "$W/stop.raw"
    sleep 0.5
    drive click $ID_STOP
    sleep 1
    record_stop
    analyze shape "$W/stop.raw"
    falls="$falls $(field "$AOUT" fall_ms)"
    stopped
    drive click $ID_START
    sleep 3
  done
  echo "$falls"
}
echo "stop, fall of the level (ms), only the keep-alive (2 s buffer) on TestSpeaker:$(stop_falls)"
pacat --playback --raw -d spk --latency-msec=20 /dev/zero >/dev/null 2>&1 &
low_latency=$!
drive click $ID_STOP  # a stream started after the client came
stopped
drive click $ID_START
sleep 3
echo "stop, fall of the level (ms), a 20 ms client on TestSpeaker too:$(stop_falls)"
kill $low_latency
close_program
kill "$FEED_PID"
analyze dropouts "$W/steady.raw"; program=$(head -n1 <<< "$AOUT")
analyze dropouts "$W/fed.raw"; fed=$(head -n1 <<< "$AOUT")
echo "dropouts in $SECONDS_LONG s at 20 ms buffers: program $program"
echo "                                   fed signal $fed"
echo "program dropouts at: $(analyze dropouts "$W/steady.raw"; sed -n 's/^at //p' <<< "$AOUT" | tr '\n' ' ')"
