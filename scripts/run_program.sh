#!/usr/bin/env bash
# The program-start part of ./run.
#
# With a display (DISPLAY set and not CI) Kawauso04 starts under Wine on the user's own
# sound devices, in the user's own Wine prefix, with any program options given (-pN, -t).
#
# Without one, or with --demo, it shows the program doing its job on its own: a private
# virtual display and sound server with the two virtual devices "TestMic" and
# "TestSpeaker" (scripts/testenv.sh), the program started on them by auto-connect with its
# pitch one octave up, a spoken phrase played into TestMic while TestSpeaker is recorded.
# It writes demo/input.wav (the phrase as TestMic carried it), demo/output.wav (what the
# program played) and demo/window.png (its window while streaming), then starts it once more
# in English for demo/window-en.png, and prints one line with the frequencies measured in and
# out. docs/window-ja.png and docs/window-en.png are these two pictures; demo/monitor.png and
# monitor-en.png, the monitor window while the phrase plays, are docs/monitor-ja.png and
# docs/monitor-en.png.
#
#   scripts/run_program.sh [--demo] [--out DIR] [--reuse-env] [program options...]
#     --demo       the demonstration even with a display
#     --out DIR    where the demonstration writes its files (default: demo)
#     --reuse-env  use the private environment already started in this shell's environment
#                  (the test runner's) instead of starting one
set -u
cd "$(dirname "$0")/.."
ROOT=$(pwd)

demo=0
reuse_env=0
out_dir="$ROOT/demo"
program_options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --demo) demo=1 ;;
    --reuse-env) reuse_env=1 ;;
    --out) shift; out_dir="$1" ;;
    *) program_options+=("$1") ;;
  esac
  shift
done
if [ -z "${DISPLAY:-}" ] || [ -n "${CI:-}" ]; then
  demo=1
fi

TREE="$ROOT/${KAWAUSO_WIN32_TREE:-build/win32}"  # the test runner may name another build
if [ "${KAWAUSO_RUNS_32BIT:-yes}" = no ]; then  # ./run found no 32-bit processes here
  TREE="$ROOT/${KAWAUSO_WIN64_TREE:-build/win64}"
fi
EXE="$TREE/Kawauso04.exe"
if [ ! -f "$EXE" ]; then
  echo "run_program: $EXE is not built (scripts/build.sh)" >&2
  exit 1
fi

if [ "$demo" = 0 ]; then
  export WINEDEBUG="${WINEDEBUG:--all}"
  if [ "${KAWAUSO_RUNS_32BIT:-yes}" = no ]; then  # /usr/bin/wine would pick the 32-bit loader
    export WINELOADER=/usr/lib/wine/wine64
    exec "$WINELOADER" "$EXE" "${program_options[@]}"
  fi
  exec wine "$EXE" "${program_options[@]}"
fi

# --- The demonstration ----------------------------------------------------------------------
DRIVER="$TREE/kawauso-driver.exe"
if [ ! -e "$DRIVER" ]; then
  echo "run_program: $DRIVER is not built (scripts/build.sh)" >&2
  exit 1
fi
analyze() { /usr/bin/python3 "$ROOT/tests/analysis/kawauso-analyze.py" "$@"; }  # numpy: Debian's python3
PITCH_POSITION=-200  # one octave up
PHRASE="Hello, this is Kawauso zero four. My voice goes through the program, one octave higher."

mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)
work="$out_dir/work"
rm -rf "$work"
mkdir -p "$work/program"

started_env=0
program_pid=""
recorder_pids=()
finish() {
  local pid
  for pid in "${recorder_pids[@]}"; do
    kill "$pid" 2>/dev/null
  done
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null
  fi
  if [ "$started_env" = 1 ]; then
    testenv_stop
  fi
}
trap finish EXIT

if [ "$reuse_env" = 0 ] || [ -z "${PULSE_SERVER:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "starting a private display, sound server and Wine prefix (the first time takes ~30 s)" >&2
  TESTENV_ROOT="$ROOT/build/demo-env"
  source scripts/testenv.sh
  testenv_start >/dev/null 2>&1
  started_env=1
fi
export LC_ALL=C.UTF-8

drive() {  # through files: Wine's helpers may hold a pipe open
  wine "$DRIVER" "$@" > "$work/drive.out" 2>&1
  local status=$?
  OUT=$(cat "$work/drive.out")
  return $status
}

# The settings: the virtual devices, the pitch an octave up, auto-connect on, so the
# program starts its stream by itself a second after it opens. With "en" the program's own
# section comes first and the program shows itself in English.
write_settings() {  # language (ja or en)
  {
    printf '\xff\xfe'
    {
      if [ "$1" = en ]; then printf '%s\r\n' "[Kawauso04]" "Language=en"; fi
      printf '%s\r\n' "[Settings00]" "BufferSize=20" "WaveInCapsName=Monitor of TestMic" \
        "WaveOutCapsName=TestSpeaker" "FreqRatio=$PITCH_POSITION" "AutoRestart=1"
    } | iconv -f UTF-8 -t UTF-16LE
  } > "$work/program/KaWUmi.ini"
}
cp "$EXE" "$work/program/Kawauso04.exe"
write_settings ja

# The phrase, as a 44100 Hz 16-bit stereo recording with a little silence around it.
espeak-ng -w "$work/phrase.wav" "$PHRASE" 2>/dev/null &&
  sox "$work/phrase.wav" -r 44100 -c 2 -b 16 -e signed -t raw "$work/phrase.raw" pad 0.3 0.5 2>/dev/null ||
  { echo "run_program: espeak-ng or sox failed" >&2; exit 1; }
phrase_seconds=$(awk -v b="$(stat -c %s "$work/phrase.raw")" 'BEGIN { printf "%.1f", b / 176400 }')

start_streaming() {  # starts the program and waits until its stream plays
  (cd "$work/program" && exec wine ./Kawauso04.exe > program.log 2>&1) &
  program_pid=$!
  if ! drive wait 30000; then
    echo "run_program: the program's window did not appear" >&2
    exit 1
  fi
  # Auto-connect starts the stream a second later; Wine's capture then needs about a second
  # for its first buffer, and the start fades in over one more.
  for i in $(seq 1 50); do
    drive enabled 40003 && [ "$OUT" = 0 ] && break
    sleep 0.1
  done
  if [ "$OUT" != 0 ]; then
    echo "run_program: the stream did not start" >&2
    exit 1
  fi
  sleep 2.5
}
picture() {  # file[, title]: the main window (or the one titled so) as the screen shows it
  drive window ${2:+"$2"}
  local size_at
  size_at=$(sed 's/.* x=\(-*[0-9]*\) y=\(-*[0-9]*\) width=\([0-9]*\) height=\([0-9]*\)/\3x\4+\1+\2/' <<< "$OUT")
  /usr/bin/import -window root -crop "$size_at" "$1" 2>/dev/null
}
monitor_picture() {  # file, title: the monitor window beside the main one, the phrase playing
  drive system-command 352 && drive wait 5000 "$2" && sleep 1.2 && picture "$1" "$2"
}
close_program() {
  drive close
  for i in $(seq 1 100); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  program_pid=""
}
play_phrase() {
  pacat --playback --raw -d mic_src --format=s16le --rate=44100 --channels=2 "$work/phrase.raw"
}
record() {  # sink, file
  parec --raw -d "$1.monitor" --format=s16le --rate=44100 --channels=2 --latency-msec=20 "$2" >/dev/null 2>&1 &
  recorder_pids+=($!)
}

start_streaming
record mic_src "$work/input.raw"
record spk "$work/output.raw"
sleep 0.3
play_phrase
sleep 0.5
picture "$out_dir/window.png"
kill "${recorder_pids[@]}" 2>/dev/null
wait "${recorder_pids[@]}" 2>/dev/null
recorder_pids=()
play_phrase & phrase_pid=$!
monitor_picture "$out_dir/monitor.png" "モニター"
wait "$phrase_pid"
close_program

# The same window in English, for its picture.
write_settings en
start_streaming
picture "$out_dir/window-en.png"
play_phrase & phrase_pid=$!
monitor_picture "$out_dir/monitor-en.png" "Monitor"
wait "$phrase_pid"
close_program

sox -r 44100 -c 2 -b 16 -e signed -t raw "$work/input.raw" "$out_dir/input.wav" 2>/dev/null
sox -r 44100 -c 2 -b 16 -e signed -t raw "$work/output.raw" "$out_dir/output.wav" 2>/dev/null

centre_in=$(analyze centroid "$out_dir/input.wav")
centre_out=$(analyze centroid "$out_dir/output.wav")
freq_in=$(analyze freq "$out_dir/input.wav")
freq_out=$(analyze freq "$out_dir/output.wav")
for f in input.wav output.wav window.png window-en.png monitor.png monitor-en.png; do
  if [ ! -s "$out_dir/$f" ]; then
    echo "run_program: $out_dir/$f was not written" >&2
    exit 1
  fi
done
rm -rf "$work"
ratio=$(awk -v a="$centre_out" -v b="$centre_in" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "?" }')
echo "demo: ${phrase_seconds} s of speech at pitch position $PITCH_POSITION (one octave up):" \
  "mean frequency ${centre_in} Hz in, ${centre_out} Hz out (x${ratio}); strongest line" \
  "${freq_in} Hz in, ${freq_out} Hz out; wrote ${out_dir#$ROOT/}/input.wav, output.wav, window.png, window-en.png, monitor.png, monitor-en.png"
