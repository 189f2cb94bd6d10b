#!/usr/bin/env bash
# The real program's sound through the WASAPI endpoints at 10 ms, in one run: the fade-in, the
# pitch stage, each click once, Stop's fade-out. The delay it measures is scripts/
# measure_stream.sh's figure for README, not a bound here.
source "$(dirname "$0")/lib.sh"
e2e_environment
source "$(dirname "$0")/audio_lib.sh"
new_instance stream "[Settings00]" "BufferSize=10" "WaveInCapsName=WASAPI: Monitor of TestMic" \
  "WaveOutCapsName=WASAPI: TestSpeaker"
start_program && drive wait 30000
check "the slot's endpoints are selected" eval \
  'says "WASAPI: Monitor of TestMic" text 1001 && says "WASAPI: TestSpeaker" text 1002'
record_start spk "$W/start.raw"; sleep 0.3; drive click $ID_START; sleep 3; record_stop
analyze shape "$W/start.raw"
echo "  start: $AOUT (fed level $REFERENCE)"
check "Start: the tone rises to its level over about a second" eval \
  'within "$(field "$AOUT" rise_ms)" 600 1100 && within "$(calc "$(field "$AOUT" steady) / $REFERENCE")" 0.8 1.2'
listen scroll $IDC_PITCH -200
check "pitch -200: one octave up, 900 Hz" tone_at 900 0.7 1.3
drive scroll $IDC_PITCH 0

kill "$FEED_PID"
record_start spk "$W/clicks-heard.raw"; pacat --raw -d both "$W/clicks.raw"; sleep 0.5; record_stop
analyze latency "$W/clicks-heard.raw" 0.3 300
echo "  delay from capture to playback: $AOUT"
check "clicks come through each once" eval '[ "$(field "$AOUT" pairs)" -ge 6 ]'

feed_tone $TONE 120 -12; sleep 1
check "Stop: the tone fades out in about 0.1 s, then silence" stop_fades_out
close_program
