# The sound checks of the end-to-end audio suites, sourced after lib.sh and e2e_environment: a
# tone fed into TestMic and its level there, clicks into TestMic and TestSpeaker at once, and
# what TestSpeaker plays.
TONE=450  # nine periods in the pitch stage's 20 ms ring: clean shifted lines

# Under Wine a block the device reports played may still wait in the sound server's buffer,
# which a reset drops: TestSpeaker runs with a short buffer, as a sound card does with a
# low-latency client (tests/measure/measure_stream.sh), so one plays silence into it.
pacat --playback --raw -d spk --latency-msec=20 /dev/zero > /dev/null 2>&1 &
E2E_PIDS+=($!)
# Clicks go into TestMic and TestSpeaker at once (a combined sink without rate adjustment):
# the recording of TestSpeaker holds each click and, later, the program's copy of it.
E2E_MODULES+=("$(pactl load-module module-combine-sink sink_name=both slaves=mic_src,spk adjust_time=0)")
sox -n -r 44100 -b 16 -c 2 -e signed "$W/click.wav" synth 0.00045 square 0.5 gain -2
sox "$W/click.wav" -t raw "$W/clicks.raw" pad 0.2 0.2995 repeat 7  # 8 clicks, 0.5 s apart

record() { LISTENED="$W/$1.raw"; record_start spk "$LISTENED"; sleep "$2"; record_stop; }  # name, s
tone_at() {  # Hz, level ratio low, high: frequency within 3 %, steady level against the fed
  analyze freq "$LISTENED"; local hz=$AOUT
  analyze shape "$LISTENED"; local ratio; ratio=$(calc "$(field "$AOUT" steady) / $REFERENCE")
  within "$hz" "$(calc "$1 * 0.97")" "$(calc "$1 * 1.03")" && within "$ratio" "$2" "$3" ||
    { echo "  $(basename "$LISTENED"): $hz Hz, level x$ratio"; return 1; }
}
clicks_heard() {  # the clicks through the program, each paired with its copy: the delays
  record_start spk "$W/clicks-heard.raw"; pacat --raw -d both "$W/clicks.raw"; sleep 0.5; record_stop
  analyze latency "$W/clicks-heard.raw" 0.3 300; echo "  delay from capture to playback: $AOUT"
}
listen() { drive "$@"; sleep 0.4; record "$2-$3" 1.2; }  # after a change has come through

feed_tone $TONE 120 -12
record_start mic_src "$W/fed.raw"; sleep 1.5; record_stop
analyze shape "$W/fed.raw" 0.5; REFERENCE=$(field "$AOUT" steady)
# A capture stall at the moment of the stop cuts the tone instead: tried up to three times.
stop_fades_out() {
  local attempt shape
  for attempt in 1 2 3; do
    record_start spk "$W/stop.raw"; sleep 0.5; drive click $ID_STOP; sleep 1; record_stop
    analyze shape "$W/stop.raw"; shape=$AOUT
    analyze level "$W/stop.raw" "$(calc "$(field "$shape" end) + 0.05")"
    within "$(field "$shape" fall_ms)" 30 250 && within "$(field "$AOUT" peak)" 0 0.002 && return 0
    echo "  stop $attempt: $shape; after it: $AOUT"
    sleep 1; drive click $ID_START; sleep 4
  done
  return 1
}
