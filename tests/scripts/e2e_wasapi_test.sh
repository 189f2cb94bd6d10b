#!/usr/bin/env bash
# The real program on two WASAPI endpoints at 10 ms: the slot's endpoints are selected and the
# sound goes through them, each click once. What the blocks do on the way is the same bit for
# bit as on WinMM (the Windows tier proves it; e2e_audio hears it), so it is not heard again
# here. The delay it measures is tests/measure/measure_stream.sh's figure, not a bound here.
source "$(dirname "$0")/lib.sh"
e2e_environment
source "$(dirname "$0")/audio_lib.sh"
new_instance stream "[Settings00]" "BufferSize=10" "WaveInCapsName=WASAPI: Monitor of TestMic" \
  "WaveOutCapsName=WASAPI: TestSpeaker"
start_program && drive wait 30000
check "the slot's endpoints are selected" eval \
  'says "WASAPI: Monitor of TestMic" text 1001 && says "WASAPI: TestSpeaker" text 1002'
drive click $ID_START; sleep 2
kill "$FEED_PID"
clicks_heard
check "clicks come through each once" eval '[ "$(field "$AOUT" pairs)" -ge 6 ]'
close_program
