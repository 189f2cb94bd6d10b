#!/usr/bin/env bash
# Measures the live stream of the real program under Wine on the virtual devices, for the
# figures in docs/PERFORMANCE.md (too slow for every ./test run): the delay from capture to
# playback (clicks, several starts per length, since it varies from one start to the next);
# dropouts in a continuous tone, in the recording and in the fed signal, beside the program's
# own count of breaks, and its CPU time; the time from Start to the first sound; Stop's
# fade-out. Beside each, in the same run, the plain passthrough of
# tests/measure/passthrough.cpp, so that what is above it is the program's.
#   tests/measure/measure_stream.sh [--starts N] [--minutes M] [--systems "WinMM WASAPI"]
#                                   [--lengths "10 20"] [--latency-only] [--dropouts-only]
#                                   [--pairs N] [--beside N] [--twins N] [--latency-twins]
# --pairs: the program's minute of tone and the passthrough's, N times in turn on each system
# (the sound server alone gives from 2 to about 100 breaks in the same minute, from one run to
# the next: a single pair says little).
# --beside: N minutes on each system with the program and the passthrough running at once, from
# the same TestMic, the passthrough into a sink of its own ("PassSpeaker"): the sound server's
# stalls then fall on both in the same minute, and a break only the program's recording shows
# is the program's.
# --twins: N minutes on each system with two passthroughs at once, as --beside: how far the
# minutes of two like programs differ, in the same run.
# --latency-twins: the delay as above with the passthrough in the program's place, both taken in
# turn as the program and the passthrough are: how far the starts' medians of two like programs
# differ, in the same run.
# Needs the builds (scripts/build.sh); runs in its own environment under build/measure-env.
set -u
STARTS=3 MINUTES=1 SYSTEMS="WinMM WASAPI" LENGTHS="" LATENCY_ONLY=0 DROPOUTS_ONLY=0 PAIRS=1
BESIDE=0 TWINS=0 LATENCY_TWINS=0
while [ $# -gt 0 ]; do
  case "$1" in
    --starts) shift; STARTS="$1" ;;
    --minutes) shift; MINUTES="$1" ;;
    --pairs) shift; PAIRS="$1" ;;
    --beside) shift; BESIDE="$1" ;;
    --twins) shift; TWINS="$1" ;;
    --systems) shift; SYSTEMS="$1" ;;
    --lengths) shift; LENGTHS="$1" ;;
    --latency-only) LATENCY_ONLY=1 ;;
    --latency-twins) LATENCY_TWINS=1 LATENCY_ONLY=1 ;;
    --dropouts-only) DROPOUTS_ONLY=1 ;;
    *) echo "usage: see the head of $0" >&2; exit 2 ;;
  esac
  shift
done

CLICK_COUNT=16 && source "$(dirname "$0")/measure_lib.sh"
if [ $((BESIDE + TWINS)) -gt 0 ]; then  # before any of Wine's processes list the devices
  beside_sink
fi
MONITOR="モニター" ID_MONITOR=352 IDC_MON_DELAY=1168 IDC_MON_COUNTERS=1171

PASSTHROUGH=$PROGRAM_TREE/tests/kawauso-passthrough.exe  # of the bitness the program runs in
# System, prefix, buffer ms, seconds[, playback]: in the background, its PID in PASS_PID.
passthrough() {  # system, prefix, buffer ms, seconds[, sink[, name of its output file]]
  local kind out="$W/${6:-passthrough}.out"; kind=$(tr 'A-Z' 'a-z' <<< "$1")
  wine "$PASSTHROUGH" "$kind" "${2}Monitor of TestMic" "${2}${5:-TestSpeaker}" "$3" "$4" \
    > "$out" 2>&1 &
  PASS_PID=$! && E2E_PIDS+=("$PASS_PID")
  eventually 10 grep -q started "$out"  # timed from its stream's start, as the program's
}
summary() {  # label, comma-separated delays: median and range
  echo "$2" | tr ',' '\n' | grep . | sort -n | awk -v label="$1" '
    { v[NR] = $1 } END {
      if (NR == 0) { printf "%s: no click came through\n", label; exit }
      printf "%s: median %.1f ms, range %.1f-%.1f ms (%d clicks)\n",
             label, v[int((NR + 1) / 2)], v[1], v[NR], NR }'
}
delays_of() { clicks_through "$1" && field "$AOUT" all; }  # file: comma-separated
median() {  # "nan" for a start no click came through, so that the starts stay in step
  local m; m=$(summary "" "$1" | sed -n 's/: median \([0-9.]*\) ms.*/\1/p'); echo "${m:-nan}"
}
# Within 3 s the stream has stopped (Start takes input again).
stopped() { eventually 3 eval 'drive enabled $ID_START && [ "$OUT" = 1 ]'; }
started_again() { stopped; drive click $ID_START; sleep 3; }  # and settled
counters() {  # the program's own counters, from its About box, in COUNTERS
  drive click $ID_ABOUT; drive text $IDC_ABOUT_COUNTERS About; COUNTERS=$OUT; drive dismiss About
}

# --- Delay from capture to playback ---------------------------------------------------------
for system in $SYSTEMS; do
[ "$DROPOUTS_ONLY" = 1 ] && break
prefix=""; lengths="10 20 50"
[ $system = WASAPI ] && prefix="WASAPI: " && lengths="10 20"
[ -n "$LENGTHS" ] && lengths=$LENGTHS
passthrough_delays() {  # recording: one start of the passthrough's at $ms, its clicks' delays
  passthrough "$system" "$prefix" "$ms" 12
  sleep 2.5
  delays_of "$1"
  wait "$PASS_PID"
}
if [ "$LATENCY_TWINS" = 1 ]; then
  for ms in $lengths; do
    first="" second=""
    for start in $(seq 1 "$STARTS"); do
      first="$first $(median "$(passthrough_delays "$W/twin1-$system-$ms-$start.raw")")"
      second="$second $(median "$(passthrough_delays "$W/twin2-$system-$ms-$start.raw")")"
    done
    echo "latency $system $ms ms, twin passthroughs, each start's median: first$first; second$second"
  done
  continue
fi
instance "latency-$system" "$prefix"
start_program && drive wait 30000
# The monitor's own figure of the program's part of the delay (the block captured and what the
# device holds ahead of it, over the last second), read in each start beside the clicks. The rest
# of a recording's delay lies beyond the APIs (the sound server, the wiring): the passthrough
# measures it as its recording's delay less what the APIs told it, and the program's recording
# less the monitor's figure is to come out the same, within a period.
drive system-command $ID_MONITOR && drive wait 5000 "$MONITOR"
breaks_before=0  # the monitor's count runs on over every length's starts
program_start() {  # one start of the program's, its figures added to the lists
  drive set-text $IDC_BUFFER_MS "$ms"
  drive click $ID_START
  sleep 2.5
  delays=$(delays_of "$W/latency-$system-$ms-$start.raw")
  drive text $IDC_MON_DELAY "$MONITOR" && shown="$shown $(sed -n 's/^[^0-9]*\([0-9.]*\) ms.*/\1/p' <<< "$OUT")"
  # The monitor counts breaks since the program started: each start's are the difference.
  drive text $IDC_MON_COUNTERS "$MONITOR" && breaks=$(head -1 <<< "$OUT" | grep -o '[0-9]\+' | sed -n 2p)
  broke="$broke $(( ${breaks:-0} - breaks_before ))" breaks_before=${breaks:-0}
  drive click $ID_STOP
  stopped
  all="$all,$delays" starts="$starts $(median "$delays")"
}
passthrough_start() {  # one start of the passthrough's, started the same way
  delays=$(passthrough_delays "$W/floor-$system-$ms-$start.raw")
  told="$told $(sed -n 's/^reported delay \([0-9.]*\) ms.*/\1/p' "$W/passthrough.out")"
  passed="$passed,$delays" floors="$floors $(median "$delays")"
}
for ms in $lengths; do
  all="" starts="" passed="" floors="" shown="" told="" broke=""
  for start in $(seq 1 "$STARTS"); do
    # Each goes first in every other start, so that the order weighs on neither (of two
    # passthroughs taken in turn, the second was the slower in 22 starts of 32).
    if [ $((start % 2)) = 1 ]; then program_start; passthrough_start
    else passthrough_start; program_start; fi
  done
  summary "latency $system $ms ms, program over $STARTS starts" "$all"
  echo "latency $system $ms ms, program, each start's median:$starts"
  summary "latency $system $ms ms, passthrough over $STARTS starts" "$passed"
  echo "latency $system $ms ms, passthrough, each start's median:$floors"
  echo "latency $system $ms ms, the monitor's delay, each start:$shown"
  echo "latency $system $ms ms, the program's breaks in its first 2.5 s, each start:$broke"
  echo "latency $system $ms ms, the passthrough's reported delay, each start:$told"
  beyond() {  # recordings' medians, the APIs' figures: the rest of each start's delay
    paste -d' ' <(tr ' ' '\n' <<< "${1# }") <(tr ' ' '\n' <<< "${2# }") |
      awk '$1 != "nan" && $2 != "nan" { printf " %.1f", $1 - $2 }'
  }
  program_beyond=$(beyond "$starts" "$shown") pass_beyond=$(beyond "$floors" "$told")
  echo "latency $system $ms ms, beyond the APIs, program (recording less the monitor), each start:$program_beyond"
  echo "latency $system $ms ms, beyond the APIs, passthrough (recording less its report), each start:$pass_beyond"
  echo "latency $system $ms ms, beyond the APIs, medians: program $(median "${program_beyond// /,}")," \
    "passthrough $(median "${pass_beyond// /,}") ms: the monitor is off by their difference"
done
close_program
done
pactl unload-module "$BOTH_MODULE"
E2E_MODULES=()
[ "$LATENCY_ONLY" = 1 ] && exit 0

# --- Dropouts and CPU ------------------------------------------------------------------------
SECONDS_LONG=$((MINUTES * 60))
cpu_ticks() {  # the program's user and system time so far, in clock ticks
  local pid; pid=$(pgrep -f 'Kawauso04.exe' | head -n1)
  awk '{ print $14 + $15 }' "/proc/$pid/stat"
}
steady_run() {  # system, prefix, buffer ms: the stream left running for SECONDS_LONG
  local fed_recorder before after program fed floor
  instance "dropouts-$1" "$2" "BufferSize=$3"
  start_program && drive wait 30000
  drive click $ID_START
  sleep 3
  counters; local at_start=$COUNTERS
  record_start mic_src "$W/fed-$1.raw"
  fed_recorder=$RECORD_PID
  record_start spk "$W/steady-$1.raw"
  before=$(cpu_ticks)
  sleep "$SECONDS_LONG"
  after=$(cpu_ticks)
  record_stop
  kill "$fed_recorder"
  counters
  echo "$1 $3 ms: the program's own counters (About box) at the recording's start: $at_start"
  echo "$1 $3 ms: the program's own counters (About box) at its end: $COUNTERS"
  echo "$1 $3 ms: CPU $(calc "($after - $before) * 100 / $(getconf CLK_TCK) / $SECONDS_LONG") % of one core"
  analyze dropouts "$W/steady-$1.raw"; program=$(head -n1 <<< "$AOUT")
  grep '^at' <<< "$AOUT" | tr '\n' ' ' > "$W/steady-$1.breaks"
  analyze dropouts "$W/fed-$1.raw"; fed=$(head -n1 <<< "$AOUT")
  close_program
  # The passthrough on the same devices for as long, right after.
  passthrough "$1" "$2" "$3" $((SECONDS_LONG + 5))
  sleep 3
  record_start spk "$W/floor-$1.raw"
  sleep "$SECONDS_LONG"
  record_stop
  wait "$PASS_PID"
  analyze dropouts "$W/floor-$1.raw"; floor=$(head -n1 <<< "$AOUT")
  echo "$1 $3 ms: dropouts in $SECONDS_LONG s: program $program; passthrough $floor; fed signal $fed"
  echo "$1 $3 ms: the passthrough's $(grep '^reported' "$W/passthrough.out") (about a block when the server kept up, hundreds of ms when it stalled)"
  PAIR_COUNTS="$PAIR_COUNTS $(field "$program" events)/$(field "$floor" events)"
  echo "$1 $3 ms: breaks the recording shows, program: $(cat "$W/steady-$1.breaks")"
  echo "$1 $3 ms: of them apart by more than a second: $(tr ' ' '\n' < "$W/steady-$1.breaks" |
    awk '/^[0-9]/ { if (NR == 2 || $1 - last > 1) n++; last = $1 } END { print n + 0 }')"
}
# The breaks in the second list with none of the first's within half a second (the two
# recordings start within a few tenths of a second of each other).
alone_of() {  # first breaks file, second
  awk 'NR == FNR { t[n++] = $1; next }
    { for (i = 0; i < n; i++) if ($1 - t[i] < 0.5 && t[i] - $1 < 0.5) next; k++ }
    END { print k + 0 }' "$1" "$2"
}
# Two recordings of the same minute (paths without .raw): each one's dropouts in FIRST and
# SECOND, its breaks in PATH.breaks, and "first/second/the first's alone/the second's alone"
# in COMPARED.
compare_recordings() {  # first, second
  local recording
  for recording in "$1" "$2"; do
    analyze dropouts "$recording.raw"
    grep '^at' <<< "$AOUT" | cut -d' ' -f2 > "$recording.breaks"
    [ "$recording" = "$1" ] && FIRST=$(head -n1 <<< "$AOUT") || SECOND=$(head -n1 <<< "$AOUT")
  done
  COMPARED="$(field "$FIRST" events)/$(field "$SECOND" events)/$(alone_of "$2.breaks" "$1.breaks")/$(alone_of "$1.breaks" "$2.breaks")"
}
# The program and the passthrough at once for SECONDS_LONG, the passthrough into PassSpeaker.
beside_run() {  # system, prefix, buffer ms
  local pass_recorder
  instance "beside-$1" "$2" "BufferSize=$3"
  start_program && drive wait 30000
  drive click $ID_START
  passthrough "$1" "$2" "$3" $((SECONDS_LONG + 8)) PassSpeaker
  sleep 3
  counters; local at_start=$COUNTERS
  record_start pass_spk "$W/beside-floor-$1.raw"
  pass_recorder=$RECORD_PID
  record_start spk "$W/beside-$1.raw"
  sleep "$SECONDS_LONG"
  record_stop
  kill "$pass_recorder"
  # Where the program's queue stood by the minute's end (the monitor's last second), beside the
  # passthrough's mean: what each held to ride the minute out.
  drive system-command $ID_MONITOR && drive wait 5000 "$MONITOR" && sleep 1.5
  drive text $IDC_MON_DELAY "$MONITOR"; local shown; shown=$(sed -n 's/^[^0-9]*\([0-9.]*\) ms.*/\1/p' <<< "$OUT")
  counters
  wait "$PASS_PID"
  close_program
  compare_recordings "$W/beside-$1" "$W/beside-floor-$1"
  echo "$1 $3 ms, at once: dropouts in $SECONDS_LONG s: program $FIRST; passthrough $SECOND"
  echo "$1 $3 ms, at once: the program's own counters (About box) $at_start, then $COUNTERS"
  echo "$1 $3 ms, at once: the passthrough's $(grep '^reported' "$W/passthrough.out"); the monitor's at the end $shown ms"
  BESIDE_COUNTS="$BESIDE_COUNTS $COMPARED"
}
# Two passthroughs at once, each into a sink of its own: how far two like programs differ in
# the same minutes, the yardstick for the program's minutes beside one.
twin_run() {  # system, prefix, buffer ms
  local first_pid
  passthrough "$1" "$2" "$3" $((SECONDS_LONG + 8)) TestSpeaker passthrough-twin
  first_pid=$PASS_PID
  passthrough "$1" "$2" "$3" $((SECONDS_LONG + 8)) PassSpeaker
  sleep 3
  record_start pass_spk "$W/twin-second-$1.raw"
  local second_recorder=$RECORD_PID
  record_start spk "$W/twin-first-$1.raw"
  sleep "$SECONDS_LONG"
  record_stop
  kill "$second_recorder"
  wait "$PASS_PID" "$first_pid"
  compare_recordings "$W/twin-first-$1" "$W/twin-second-$1"
  echo "$1 $3 ms, two passthroughs at once: dropouts in $SECONDS_LONG s: first $FIRST; second $SECOND"
  TWIN_COUNTS="$TWIN_COUNTS $COMPARED"
}
twins_of() {  # system, prefix, buffer ms
  local minute; TWIN_COUNTS=""
  for minute in $(seq "$TWINS"); do twin_run "$@"; done
  echo "$1 $3 ms: breaks of each minute of two passthroughs at once, first/second/the first's alone/the second's alone:$TWIN_COUNTS"
}
besides_of() {  # system, prefix, buffer ms
  local minute; BESIDE_COUNTS=""
  for minute in $(seq "$BESIDE"); do beside_run "$@"; done
  echo "$1 $3 ms: breaks of each minute at once, program/passthrough/the program's alone/the passthrough's alone:$BESIDE_COUNTS"
}
# The program and the passthrough on both systems, each pair, and the checks after them.
feed_tone 450 $(((4 * PAIRS + 2 * BESIDE + TWINS + 1) * SECONDS_LONG + 60 * PAIRS + 60 * BESIDE + 20 * TWINS + 180)) -12
pairs_of() {  # system, prefix, buffer ms
  local pair; PAIR_COUNTS=""
  for pair in $(seq "$PAIRS"); do steady_run "$@"; done
  echo "$1 $3 ms: breaks of each pair, program/passthrough:$PAIR_COUNTS"
}
if [ "$PAIRS" -gt 0 ]; then
  [[ " $SYSTEMS " == *" WinMM "* ]] && pairs_of WinMM "" 20
  [[ " $SYSTEMS " == *" WASAPI "* ]] && pairs_of WASAPI "WASAPI: " 10
fi
if [ "$BESIDE" -gt 0 ]; then
  [[ " $SYSTEMS " == *" WinMM "* ]] && besides_of WinMM "" 20
  [[ " $SYSTEMS " == *" WASAPI "* ]] && besides_of WASAPI "WASAPI: " 10
fi
if [ "$TWINS" -gt 0 ]; then
  [[ " $SYSTEMS " == *" WinMM "* ]] && twins_of WinMM "" 20
  [[ " $SYSTEMS " == *" WASAPI "* ]] && twins_of WASAPI "WASAPI: " 10
fi

instance dropouts "" "BufferSize=20"
start_program && drive wait 30000
record_start spk "$W/first-sound.raw"
sleep 0.3
drive click $ID_START
sleep 3.2
record_stop
analyze shape "$W/first-sound.raw"
echo "first sound: $(awk -v s="$(field "$AOUT" start)" 'BEGIN { printf "%.2f", s - 0.3 - 0.1 }') s after Start (fade-in begins; 10 % reached 0.1 s later)"

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
    started_again
  done
  echo "$falls"
}
echo "stop, fall of the level (ms), only the keep-alive (2 s buffer) on TestSpeaker:$(stop_falls)"
pacat --playback --raw -d spk --latency-msec=20 /dev/zero >/dev/null 2>&1 & low_latency=$!
drive click $ID_STOP  # a stream started after the client came
started_again
echo "stop, fall of the level (ms), a 20 ms client on TestSpeaker too:$(stop_falls)"
kill $low_latency
close_program
kill "$FEED_PID"
