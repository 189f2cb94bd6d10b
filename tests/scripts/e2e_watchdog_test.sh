#!/usr/bin/env bash
# The stream watchdog with the real program, through WinMM and through WASAPI: while a tone
# streams at 20 ms buffers, one of the two devices is taken away for real (its null sink's
# module unloaded) and brought back 3 s later under the same name. The tone comes back without
# anyone pressing Start, and the About box counts one restart for each. Through WinMM with
# auto-connect on, the speaker then stays away: the stream is closed and the window shows it
# stopped, and once the speaker is back the watcher starts the stream by itself.
source "$(dirname "$0")/lib.sh"
e2e_environment
TONE=450
COME_BACK_S=8  # the reopened device's first data may take about 2 s on this platform

# Unloads the sink, or loads it again as scripts/testenv.sh loaded it (it stays for the suites
# after this one); the streams that played into it (the keep-alive, the tone's feed) were moved
# to another sink by the server, so they are moved back (the program's own stream on it ended
# with it).
unload_sink() {  # sink
  local sink; sink=$(pactl list short sinks | awk -v s="$1" '$2 == s {print $1}')
  PLAYERS=$(pactl list short sink-inputs | awk -v s="$sink" '$2 == s {print $1}')
  pactl unload-module \
    "$(pactl list short modules | awk -v s="sink_name=$1 " 'index($0 " ", s) {print $1}')"
}
load_sink() {  # sink
  local player description=TestSpeaker; [ "$1" = mic_src ] && description=TestMic
  pactl load-module module-null-sink sink_name="$1" rate=44100 channels=2 format=s16le \
    sink_properties=device.description=$description >/dev/null &&
    for player in $PLAYERS; do pactl move-sink-input "$player" "$1" 2>/dev/null; done
}
take_away() { unload_sink "$1" && sleep 3 && load_sink "$1"; }  # sink
ms_now() { echo $(($(date +%s%N) / 1000000)); }
by() {  # seconds, command...: the command comes true within that many seconds from now
  local start; start=$(ms_now)
  while [ "$(ms_now)" -lt $((start + $1 * 1000)) ]; do
    "${@:2}" >/dev/null 2>&1 && echo "  after $(($(ms_now) - start)) ms" && return 0
    sleep 0.2
  done
  echo "  not within $1 s: ${*:2}"; return 1
}
stopped_and_closed() {  # the window's stopped state, and nothing of it recording the tone
  local source
  source=$(pactl list short sources | awk '$2 == "mic_src.monitor" {print $1}')
  says 1 enabled $ID_START && says 0 enabled $ID_STOP &&
    [ -z "$(pactl list short source-outputs | awk -v s="$source" '$2 == s')" ]
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
  through="${prefix:-WinMM: }"; through="through ${through%: }" gone=spk winmm=0
  [ -z "$prefix" ] && gone=mic_src winmm=1  # through WinMM auto-connect is on and starts it
  new_instance "watchdog${prefix%: }" "[Settings00]" "BufferSize=20" \
    "WaveInCapsName=${prefix}Monitor of TestMic" "WaveOutCapsName=${prefix}TestSpeaker" AutoRestart=$winmm
  start_program && drive wait 30000
  [ $winmm = 1 ] || drive click $ID_START
  check "$through: the tone streams" tone_back 4
  take_away $gone
  check "$through: $gone taken away and back, the tone comes back by itself" tone_back $COME_BACK_S
  check "$through: the About box counts 1 restart" restarts 1
  if [ $winmm = 1 ]; then
    unload_sink spk
    check "$through, auto-connect on: spk gone for good, within 12 s the stream is closed and shown stopped" \
      by 12 stopped_and_closed
    load_sink spk
    check "$through, auto-connect on: spk back, the stream starts by itself within 3 s" \
      by 3 says 1 enabled $ID_STOP
    check "$through, auto-connect on: the tone is back" tone_back 4
  fi
  close_program
done
