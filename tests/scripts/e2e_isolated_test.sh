#!/usr/bin/env bash
# The real program with its effect in a process of its own: a 450 Hz tone at 20 ms buffers,
# five runs side by side, each to a sink of its own (the driver tells programs apart by folder).
# The slots halve the volume: a recording tells the effect (a copy) from the stage.
source "$(dirname "$0")/lib.sh"
e2e_environment
# A dropout of Wine's: 36 ms at most on an idle machine, but with five programs and their hosts
# starting side by side the stage's blocks around a restart lost up to 76-123 ms (2 runs in 6);
# a restart that left the stage silent would lose the host's whole start, 0.5 s and more.
BUFFER_MS=20 ANSWER_MS=500 RUN_S=13 FADE_MS=10 WINE_GAP_MS=130  # return from the stage; a dropout
declare -A OTHER=([win32]=win64 [win64]=win32)
RUNS=() PROBES=()

# One build's program, both hosts, the effect (its log its own); the slot loads it and starts.
prepare() {  # name, program build, effect build, variant, more settings lines...
  local dir="$W/$1" other=${OTHER[$2]}
  mkdir -p "$dir" && RUNS+=("$1")
  cp "${TREE[$2]}"/{Kawauso04,kawauso-fxhost}.exe "$dir/"
  cp "${TREE[$other]}/kawauso-fxhost.exe" "$dir/kawauso-fxhost${other#win}.exe"
  cp "${TREE[$3]}/tests/plugins/$4.dll" "$dir/" && : > "$dir/$4.dll.log"
  E2E_MODULES+=("$(pactl load-module module-null-sink sink_name="iso_$1" rate=44100 channels=2 \
    format=s16le sink_properties=device.description="iso_$1")")
  pacat --playback --raw -d "iso_$1" /dev/zero > /dev/null 2>&1 & E2E_PIDS+=($!)
  write_ini "$dir/KaWUmi.ini" "[Settings00]" "BufferSize=$BUFFER_MS" Volume=30 AutoRestart=1 \
    "WaveInCapsName=Monitor of TestMic" "WaveOutCapsName=iso_$1" \
    "VstPath=$(winpath "$dir")\\$4.dll" VstActive=1 "${@:5}"
}
in_run() { KAWAUSO_DRIVER_DIR="$(winpath "$W/$1")" drive "${@:2}"; }  # name, driver args
log_of() { tr -d '\r' < "$W/$1/$2.dll.log"; }  # name, variant

P=$PROGRAM_BUILD COUNTER=counter32
prepare exit $P $P exit_later VstIsolated=1
prepare deadlock $P $P heap_lock_later VstIsolated=1
prepare hang $P $P hang_later VstIsolated=1
if [ "$KAWAUSO_RUNS_32BIT" = yes ]; then
  prepare editor64 win32 win64 editor VstEditorOpen=1  # a copy, with an editor
  prepare counter32 win64 win32 chunk_counter
else
  COUNTER=counter && prepare counter win64 win64 chunk_counter VstIsolated=1
fi
feed_tone 450 60 -12
for run in "${RUNS[@]}"; do record_start "iso_$run" "$W/$run.raw"; RECORDERS+=($RECORD_PID); done
record_start mic_src "$W/fed.raw"; RECORDERS+=($RECORD_PID)
SECONDS=0; for run in "${RUNS[@]}"; do
  (cd "$W/$run" && exec wine ./Kawauso04.exe > program.log 2>&1) & E2E_PIDS+=($!)
done
for run in "${RUNS[@]}"; do in_run "$run" wait 30000 || echo "  $run: no window"; done
PROBE_S=$((RUN_S - SECONDS)) && [ $PROBE_S -ge 9 ] || PROBE_S=9
for run in exit deadlock hang; do  # the window thread probed all along, the outage included
  KAWAUSO_DRIVER_DIR="$(winpath "$W/$run")" wine "$DRIVER" answers $PROBE_S \
    > "$W/$run.answers" 2>&1 & PROBES+=($!)
done
eventually 10 eval 'log_of $COUNTER chunk_counter | grep -q "^process"'
in_run $COUNTER set-text $IDC_BUFFER_MS 21  # its chunk, counting, is taken at the next save
wait "${PROBES[@]}"; kill "${RECORDERS[@]}"; wait "${RECORDERS[@]}" 2> /dev/null
analyze shape "$W/fed.raw"; REFERENCE=$(field "$AOUT" steady)

# Alone afterwards, as its 70 % of a core would slow the runs above: an effect too slow for the
# half-block wait.
RUNS=() && prepare heavy $P $P heavy_blocks VstIsolated=1
record_start iso_heavy "$W/heavy.raw"; RECORDERS=($RECORD_PID)
(cd "$W/heavy" && exec wine ./Kawauso04.exe > program.log 2>&1) & E2E_PIDS+=($!)
in_run heavy wait 30000 && sleep 12; in_run heavy close; kill "${RECORDERS[@]}"

steps_of() { analyze steps "$W/$1.raw" "$REFERENCE"; echo "  $1: $AOUT" >&2; echo "$AOUT"; }
# From the effect's first steady half second to its last sound: its outages through the stage,
# no silence longer than a buffer and the fade (or one of Wine's).
recovers() {  # name
  steps_of "$1" > /dev/null; analyze outage "$W/$1.raw" "$REFERENCE"
  echo "  $1: $AOUT; slowest answer $(cat "$W/$1.answers") ms"
  [ "$(field "$AOUT" staged)" -ge 1 ] &&
    within "$(field "$AOUT" longest_gap_ms)" 0 $((BUFFER_MS + FADE_MS + WINE_GAP_MS))
}
answered() { within "$(cat "$W/$1.answers")" 0 $ANSWER_MS && in_run "$1" wait 100; }
# Once heard, the effect is heard (but a late block) for 4 s, before chunk_counter's fault.
runs_through() {
  local s; s=$(steps_of "$1"); s=${s#"${s%%F*}"}; [ "$(tr -cd F <<< "${s:0:40}" | wc -c)" -ge 36 ]; }
# Each restarted effect gets the last chunk the program took before it, and one of them a count
# (the save comes before the first fault, unless the machine is slow enough to miss it).
carried_on() {
  local pairs
  pairs=$(log_of $COUNTER chunk_counter | sed -n 's/^chunk given //p; s/^chunk received /> /p' |
    awk '/^>/ { print taken " " $2; next } { taken = $1 }')
  echo "  $COUNTER: taken last, given back: $(tr '\n' ',' <<< "$pairs")"
  [ -n "$pairs" ] && awk '$1 != $2 { exit 1 }' <<< "$pairs" && grep -qv 'blocks=0$' <<< "$pairs"
}

# An effect too slow for the half-block wait runs a block ahead: from 4 s after it is first
# heard (2 s of warm-up, then the switch) its sound, not the stage's. Under the suite's load
# a block now and then still misses (the Windows tier counts them); one ahead that did not
# work plays the stage every other block or more.
ahead() {
  analyze staged "$W/heavy.raw" "$REFERENCE" 4; echo "  heavy: $AOUT"
  [ "$(field "$AOUT" of_ms)" -ge 4000 ] &&
    [ "$(field "$AOUT" staged_ms)" -le $(($(field "$AOUT" of_ms) / 10)) ]
}
check "a heavy effect in its own process: a block ahead, its own sound, not the stage's" ahead
for run in exit deadlock hang; do
  check "$run: the program lives, its window answering within $ANSWER_MS ms throughout" answered $run
  check "$run: the tone goes on through the stage, then through the restarted effect" recovers $run
done
needs win32 "the 32-bit program runs a 64-bit copy effect, its editor open and idled in the host" eval \
  'runs_through editor64 && log_of editor64 editor | grep -q "opcode=14 .*ptr=set" &&
   [ "$(log_of editor64 editor | grep -c "opcode=19 ")" -gt 100 ]'
needs win32 "the 64-bit program runs a 32-bit effect" runs_through counter32
check "a chunk that counts blocks: the restarted effect continues from the last one taken" carried_on
