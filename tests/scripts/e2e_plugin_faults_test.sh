#!/usr/bin/env bash
# The real program streaming a 450 Hz tone at 20 ms buffers through effects that fail after
# two seconds of sound: one faults, one stops returning. The voice goes on each time, the user
# is told, and the close with its save still works (Stop and Start after a hang: the Windows tier).
source "$(dirname "$0")/lib.sh"
e2e_environment
TONE=450 BUFFER_MS=20
HANG_LIMIT_MS=2000    # what the program allows a block inside the effect at this buffer length
FIRST_CAPTURE_MS=2000 # a new capture's first buffer under Wine comes 0.1-2 s after its start
TIMER_MS=200          # the window looks for a hang this often
PLUGINS=$(winpath "$ROOT/$PROGRAM_TREE/tests/plugins")

# Settings of one run: the stream's devices and buffer length, and the effect to load.
instance() { new_instance "$1" "[Settings00]" "BufferSize=$BUFFER_MS" \
  "WaveInCapsName=Monitor of TestMic" "WaveOutCapsName=TestSpeaker" "VstPath=$PLUGINS\\$1.dll"; }
# Started and settled (Wine's capture may take 2 s to deliver, then the queue's first second),
# the effect loaded through the file dialog the button opens (the slot's path already in it;
# the click is posted, as a sent one would not come back while that dialog is open), then
# recorded for seconds while the effect fails, and the passthrough beside over the same seconds.
run_through() {  # variant, seconds
  instance "$1" && start_program && drive wait 30000 && drive click $ID_START && sleep 4 || return 1
  beside_start $BUFFER_MS $(($2 + 15))  # one that did not start records silence: no allowance
  { drive press $IDC_VST_LOAD; drive dismiss "VST プラグインを開く"; } || return 1
  record_start pass_spk "$W/$1-beside.raw"; local beside=$RECORD_PID
  record_start spk "$W/$1.raw" && sleep "$2"; record_stop; kill $beside "$BESIDE_PID"
}
# The tone before and after the longest silence, that silence at most ms longer than the
# passthrough's beside it, and the tone's level at the end of the recording.
gap_at_most() {  # variant, ms
  analyze dropouts "$W/$1.raw"; local gaps; gaps=$(head -n1 <<< "$AOUT")
  analyze dropouts "$W/$1-beside.raw"; local beside; beside=$(head -n1 <<< "$AOUT")
  analyze freq "$W/$1.raw"; local hz=$AOUT
  analyze shape "$W/$1.raw"; local shape=$AOUT
  echo "  $1.raw: $gaps, $hz Hz, $shape; the passthrough beside: $beside"
  within "$(field "$gaps" longest_gap_ms)" 0 "$(calc "$2 + $(field "$beside" longest_gap_ms)")" &&
    within "$hz" 436 464 && within "$(field "$shape" end)" "$(calc "$(field "$gaps" seconds) - 0.2")" 1000
}
told() {  # one box of the program's (its text is the in-process tests'), dismissed
  drive wait 8000 Kawauso04 && [ -n "$OUT" ] && drive dismiss Kawauso04 ||
    { echo "  box: '$OUT'"; false; }
}
saved() { ini | grep -q "^VstPath=.*$1.dll"; }

beside_sink
feed_tone $TONE 120 -12
run_through crash_later 4
check "a fault: the user is told in a box" told
check "a fault: the tone goes on through the stage, at most a buffer missing" \
  gap_at_most crash_later $((BUFFER_MS * 3))
check "a fault: closed, the slot saved" eval 'close_program && saved crash_later'

run_through hang_later 8
check "a hang: the user is told in a box" told
check "a hang: the tone comes back after the limit, the restart and its fade-in" \
  gap_at_most hang_later $((HANG_LIMIT_MS + TIMER_MS + FIRST_CAPTURE_MS + 400))
check "a hang: closed, the slot saved" eval 'close_program && saved hang_later'
