#!/usr/bin/env bash
# The stream watchdog with the real program, through WinMM and through WASAPI: while a tone
# streams at 20 ms buffers, one of the two devices is taken away for real (its null sink's module unloaded) and brought back 3 s
# later under the same name. The tone comes back without anyone pressing Start, and the About
# box counts one restart for each.
source "$(dirname "$0")/lib.sh"
e2e_environment
TONE=450
COME_BACK_S=8  # the reopened device's first data may take about 2 s on this platform

sink_args() {  # sink name: the arguments scripts/testenv.sh loaded it with
  local description; [ "$1" = mic_src ] && description=TestMic || description=TestSpeaker
  echo "sink_name=$1 rate=44100 channels=2 format=s16le sink_properties=device.description=$description"
}
# Unloads the sink, waits and loads it again as testenv loaded it (it stays for the suites
# after this one); the streams that played into it (the keep-alive, the tone's feed) were
# moved to another sink by the server, so they are moved back (the program's own stream on it
# ended with it).
take_away() {  # sink
  local module players sink player
  module=$(pactl list short modules | awk -v s="sink_name=$1 " 'index($0 " ", s) {print $1}')
  sink=$(pactl list short sinks | awk -v s="$1" '$2 == s {print $1}')
  players=$(pactl list short sink-inputs | awk -v s="$sink" '$2 == s {print $1}')
  pactl unload-module "$module" && sleep 3 && pactl load-module module-null-sink $(sink_args "$1") >/dev/null &&
    for player in $players; do pactl move-sink-input "$player" "$1" 2>/dev/null; done
}
tone_back() {  # seconds: the tone's level in the last second recorded within them
  local i
  for i in $(seq 1 "$1"); do
    record_start spk "$W/back.raw"; sleep 1; record_stop
    analyze level "$W/back.raw"
    within "$(field "$AOUT" rms)" 0.1 1 && { echo "  back after about ${i} s: $AOUT"; return 0; }
  done
  echo "  not back: $AOUT"; return 1
}
restarts() {  # expected count, in the About box
  drive click $ID_ABOUT; drive text $IDC_ABOUT_COUNTERS About; local shown=$OUT
  drive dismiss About
  [[ "$shown" == "再起動 $1 回"* ]] || { echo "  About: '$shown'"; false; }
}

feed_tone $TONE 120 -12
# Through WinMM each device goes once; through WASAPI, the speaker (a capture that stops
# delivering is judged the same way for both systems).
for prefix in "" "WASAPI: "; do
  through="${prefix:-WinMM: }"; through="through ${through%: }"
  new_instance "watchdog${prefix%: }" "[Settings00]" "BufferSize=20" \
    "WaveInCapsName=${prefix}Monitor of TestMic" "WaveOutCapsName=${prefix}TestSpeaker"
  start_program && drive wait 30000 && drive click $ID_START
  check "$through: the tone streams" tone_back 4
  restarts=0
  for sink in mic_src spk; do
    [ -n "$prefix" ] && [ $sink = mic_src ] && continue
    take_away $sink
    restarts=$((restarts + 1))
    check "$through: $sink taken away and back, the tone comes back by itself" tone_back $COME_BACK_S
    check "$through: the About box counts $restarts restart(s)" restarts $restarts
  done
  close_program
done
