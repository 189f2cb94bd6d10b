# What the measure scripts share, sourced first: the end-to-end suites' helpers in an environment
# of their own under build/measure-env; "kawauso_both", a sink that plays into TestMic and
# TestSpeaker at once (no rate adjustment), its module in BOTH_MODULE; CLICKS, CLICK_COUNT clicks
# 0.5 s apart for it, so that a recording of TestSpeaker holds each click and its copy.
set -u
cd "$(dirname "$0")/../.."
export TESTENV_ROOT="$PWD/build/measure-env"
source tests/scripts/lib.sh  # it goes to the checkout's root
e2e_environment
BOTH_MODULE=$(pactl load-module module-combine-sink sink_name=kawauso_both \
  slaves=mic_src,spk adjust_time=0 sink_properties=device.description=KawausoBoth)
E2E_MODULES+=("$BOTH_MODULE")
CLICKS="$W/clicks.raw"
sox -n -r 44100 -b 16 -c 2 -e signed "$W/click.wav" synth 0.00045 square 0.5 gain -2 2>/dev/null
sox "$W/click.wav" -t raw "$CLICKS" pad 0.2 0.2995 repeat $((CLICK_COUNT - 1)) 2>/dev/null
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(wine --version)"

instance() {  # name, prefix ("" or "WASAPI: "), more settings lines: on the test devices
  new_instance "$1" "[Settings00]" "WaveInCapsName=${2}Monitor of TestMic" \
    "WaveOutCapsName=${2}TestSpeaker" "${@:3}"
}
clicks_through() {  # file: the clicks played now and recorded there, their delays analysed in AOUT
  record_start spk "$1" >&2  # its warning is no delay
  sleep 0.2
  pacat --playback --raw -d kawauso_both "$CLICKS"
  sleep 0.5
  record_stop
  analyze latency "$1" 0.3 300
}
