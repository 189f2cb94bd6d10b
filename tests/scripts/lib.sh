# Helpers of the script suites, sourced first; each check prints "PASS: name" or "FAIL: name"
# (or "SKIP: name (why)" where it needs a 32-bit process that cannot run here).
# End to end, the real Kawauso04.exe runs under Wine in a folder of its own (its KaWUmi.ini
# its own), driven from outside by kawauso-driver.exe.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
W="$ROOT/build/results/$(basename "${0%.sh}")"
rm -rf "$W" && mkdir -p "$W" && cd "$ROOT" || exit 1
export LC_ALL=C.UTF-8
WIN32_TREE=${KAWAUSO_WIN32_TREE:-build/win32}  # the build trees under test
WIN64_TREE=${KAWAUSO_WIN64_TREE:-build/win64}
NATIVE_TREE=${KAWAUSO_NATIVE_TREE:-build/native}
declare -A TREE=([native]=$NATIVE_TREE [win32]=$WIN32_TREE [win64]=$WIN64_TREE)
# Where no 32-bit process can run, the program under test is the 64-bit build, and a check
# that needs a 32-bit process is skipped, saying why.
source "$ROOT/scripts/testenv.sh" && testenv_probe_32bit
PROGRAM_BUILD=win32 NO_32BIT="needs a 32-bit process, which this machine cannot run"
[ "$KAWAUSO_RUNS_32BIT" = yes ] || PROGRAM_BUILD=win64
PROGRAM_TREE=${TREE[$PROGRAM_BUILD]}
PROGRAM_EXE=$PROGRAM_TREE/Kawauso04.exe
DRIVER=$PROGRAM_TREE/kawauso-driver.exe
IDC_SLOT=1020 IDC_BUFFER_MS=1003 IDC_VOLUME=1006 IDC_PITCH=1010 ID_START=40003 ID_STOP=40004
ID_ABOUT=40006 IDC_ABOUT_COUNTERS=1030 IDC_VST_LOAD=1014 IDC_WAVEIN=1001
PROGRAM_PID="" E2E_PIDS=() E2E_MODULES=() E2E_OWN_ENV=0

check() { if "${@:2}"; then echo "PASS: $1"; else echo "FAIL: $1"; fi; }  # name, command...
needs() {  # builds the check runs, name, command...
  if [ "$KAWAUSO_RUNS_32BIT" = no ] && [[ " $1 " == *" win32 "* ]]; then echo "SKIP: $2 ($NO_32BIT)"
  else check "${@:2}"; fi
}
each_build() {  # builds, name, command, args...: "name (build)", the build the command's first argument
  local build
  for build in $1; do needs $build "$2 ($build)" "$3" $build "${@:4}"; done
}
# A Linux path as Wine's programs see it: Z: is the root. (winepath itself starts Wine, and on a
# busy machine it once printed an error in place of the path.)
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "" && v >= lo && v <= hi) }'; }
calc() { awk "BEGIN { print $* }"; }
field() { tr ' ' '\n' <<< "$1" | sed -n "s/^$2=//p"; }  # line of key=value pairs, key
analyze() { AOUT=$(/usr/bin/python3 "$ROOT/tests/analysis/kawauso-analyze.py" "$@" 2>&1); }

e2e_cleanup() {
  local item
  for item in $PROGRAM_PID "${E2E_PIDS[@]}"; do kill "$item" 2>/dev/null; done
  for item in "${E2E_MODULES[@]}"; do pactl unload-module "$item" 2>/dev/null; done
  if [ "$E2E_OWN_ENV" = 1 ]; then testenv_stop; fi
}
e2e_environment() {  # run by hand, a suite starts the private display, sound and Wine itself
  [ -e "$PROGRAM_EXE" ] && [ -e "$DRIVER" ] || { echo "FAIL: $PROGRAM_EXE, $DRIVER built"; exit 1; }
  if [ -z "${PULSE_SERVER:-}" ] || [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
    source "$ROOT/scripts/testenv.sh" && testenv_start >/dev/null 2>&1 && E2E_OWN_ENV=1
  fi
  trap e2e_cleanup EXIT
}

drive() {  # its output in OUT; through a file, since Wine's helpers may hold a pipe open
  wine "$DRIVER" "$@" > "$W/drive.out" 2> "$W/drive.err"
  local status=$?; OUT=$(<"$W/drive.out"); return $status
}
says() {  # expected output, driver args...
  drive "${@:2}" && [ "$OUT" = "$1" ] && return 0
  echo "  ${*:2}: '$OUT' $(cat "$W/drive.err"), expected '$1'"; return 1
}
eventually() {  # seconds, command...: polled until it is true
  local i
  for i in $(seq 2 $(($1 * 10))); do "${@:2}" > /dev/null && return 0; sleep 0.1; done
  "${@:2}"
}

# File, lines: the settings file as the program keeps it, UTF-16LE with a BOM, CRLF lines.
write_ini() { { printf '\xff\xfe'; printf '%s\r\n' "${@:2}" | iconv -f UTF-8 -t UTF-16LE; } > "$1"; }
new_instance() {  # name, settings lines...: a folder with its own copy of the program
  PROGRAM_DIR="$W/$1"
  mkdir -p "$PROGRAM_DIR" && cp "$PROGRAM_EXE" "$PROGRAM_DIR/Kawauso04.exe"
  if [ $# -gt 1 ]; then write_ini "$PROGRAM_DIR/KaWUmi.ini" "${@:2}"; fi
}
start_program() {  # options...
  (cd "$PROGRAM_DIR" && exec wine ./Kawauso04.exe "$@" > program.log 2>&1) & PROGRAM_PID=$!
}
exited() {  # the program ends within 30 s (Wine's exit is slow on a busy machine), with status 0
  eventually 30 eval '! kill -0 "$PROGRAM_PID" 2>/dev/null' && wait "$PROGRAM_PID" && PROGRAM_PID=""
}
close_program() { drive close && exited; }
ini() { iconv -f UTF-16 -t UTF-8 "$PROGRAM_DIR/KaWUmi.ini" | tr -d '\r'; }  # the settings as text

feed_tone() {  # Hz, seconds, gain dB: a sine played into TestMic in the background
  local raw="$W/feed-$1.raw"
  [ -f "$raw" ] || sox -n -r 44100 -b 16 -c 2 -e signed -t raw "$raw" synth "$2" sine "$1" gain "$3"
  pacat --playback --raw -d mic_src "$raw" >/dev/null 2>&1 &
  FEED_PID=$! && E2E_PIDS+=("$FEED_PID")
}
# Records a sink's monitor (raw s16le stereo 44100) in the background; returns once the
# first data has arrived, so a recording's length is what the caller waits for.
record_start() {  # sink, file
  parec --raw -d "$1.monitor" --latency-msec=20 "$2" >/dev/null 2>&1 &
  RECORD_PID=$! && E2E_PIDS+=("$RECORD_PID")
  eventually 3 test -s "$2" || echo "  no sound data from $1 in 3 s"
}
record_stop() { kill "$RECORD_PID" 2>/dev/null; wait "$RECORD_PID" 2>/dev/null; }
# The machine's own breaks, beside the program's: a plain passthrough (tests/measure/passthrough.cpp)
# from the same capture into a sink of its own, through Wine as the program is. This kind of
# machine loses its cores to the host for seconds now and then, and a stall breaks both streams;
# a program that misses blocks by itself breaks alone.
# Its sink is kept alive as the suite keeps TestSpeaker: by a client of ms buffer where it runs
# one, otherwise by one of the sound server's default 2 s, as the environment's keep-alive.
beside_sink() {  # [ms]: before the program lists the devices
  E2E_MODULES+=("$(pactl load-module module-null-sink sink_name=pass_spk rate=44100 channels=2 \
    format=s16le sink_properties=device.description=PassSpeaker)")
  pacat --playback --raw -d pass_spk ${1:+--latency-msec=$1} /dev/zero > /dev/null 2>&1 & E2E_PIDS+=($!)
}
beside_start() {  # buffer ms, seconds: running (its PID BESIDE_PID), past its start's breaks
  wine "$PROGRAM_TREE/tests/kawauso-passthrough.exe" winmm "Monitor of TestMic" PassSpeaker \
    "$1" "$2" > "$W/passthrough.out" 2>&1 & BESIDE_PID=$! && E2E_PIDS+=($!)
  eventually 10 grep -q started "$W/passthrough.out" && sleep 1
}
