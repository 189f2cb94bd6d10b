# Helpers of the end-to-end suites: the real Kawauso04.exe started under Wine in a private
# folder of its own (so its settings file KaWUmi.ini is private too), driven from outside by
# kawauso-driver.exe, with sound fed into the virtual device TestMic and recorded from
# TestSpeaker. Sourced after lib.sh, from the checkout's root.
#
# The suites run inside the private display, audio server and Wine prefix of
# scripts/testenv.sh; run by hand, they start that environment themselves.

export LC_ALL=C.UTF-8

find_first() {  # candidates...: prints the first that exists
  local f
  for f in "$@"; do
    if [ -e "$f" ]; then echo "$f"; return 0; fi
  done
  return 1
}

PROGRAM_EXE=$(find_first build/win32/app/Kawauso04.exe build/win32/Kawauso04.exe)
DRIVER=build/win32/tests/e2e/kawauso-driver.exe
ANALYZE=build/native/tools/kawauso-analyze/kawauso-analyze
PLUGIN_DIR=build/win32/tests/plugins
W="$WORK"

MIC_SINK=mic_src
SPEAKER_SINK=spk
CAPTURE_NAME="Monitor of TestMic"
PLAYBACK_NAME="TestSpeaker"
# Control and command ids of the main window.
IDC_WAVEIN=1001 IDC_WAVEOUT=1002 IDC_BUFFER_MS=1003 IDC_VOLUME=1006 IDC_HI=1008 IDC_LO=1009
IDC_PITCH=1010 IDC_VOLUME_LABEL=1012 IDC_VOLUME_VALUE=1013 IDC_VST_LOAD=1014 IDC_VST_EDIT=1015
IDC_PITCH_VALUE=1016 IDC_AUTO_CONNECT=1018 IDC_SLOT=1020 IDC_DETAIL_TOGGLE=1021
IDC_BUFFER_LABEL=1022 IDC_PITCH_LABEL=1023 ID_START=40003 ID_STOP=40004 ID_EXIT=40005
ID_ABOUT=40006

PROGRAM_PID=""
PROGRAM_DIR=""
E2E_PIDS=()
E2E_OWN_ENV=0
E2E_MODULES=()

e2e_cleanup() {
  if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
    drive close >/dev/null 2>&1
    sleep 1
    kill "$PROGRAM_PID" 2>/dev/null
  fi
  local pid
  for pid in "${E2E_PIDS[@]}"; do
    kill "$pid" 2>/dev/null
  done
  local module
  for module in "${E2E_MODULES[@]}"; do
    pactl unload-module "$module" 2>/dev/null
  done
  if [ "$E2E_OWN_ENV" = 1 ]; then
    testenv_stop
  fi
}

# Starts the private environment when the suite runs outside the test runner.
e2e_environment() {
  if [ -z "${PULSE_SERVER:-}" ] || [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
    source "$ROOT/scripts/testenv.sh"
    testenv_start >/dev/null 2>&1
    E2E_OWN_ENV=1
  fi
  trap e2e_cleanup EXIT
}

# Every piece the suites need is built; otherwise one FAIL says which is missing.
e2e_prerequisites() {
  local missing=""
  [ -n "$PROGRAM_EXE" ] || missing="$missing Kawauso04.exe"
  [ -e "$DRIVER" ] || missing="$missing $DRIVER"
  [ -x "$ANALYZE" ] || missing="$missing $ANALYZE"
  if [ -n "$missing" ]; then
    echo "FAIL: built:$missing"
    exit 1
  fi
}

# Runs the driver; its output is left in OUT (and $W/drive.out), its complaint in ERR.
# Output goes through files: a pipe could be held open by Wine's own helper processes.
drive() {
  wine "$DRIVER" "$@" > "$W/drive.out" 2> "$W/drive.err"
  local status=$?
  OUT=$(cat "$W/drive.out")
  ERR=$(grep '^kawauso-driver:' "$W/drive.err")
  return $status
}

# drive, then compare its whole output with the expected text.
drive_says() {  # expected, driver args...
  local expected="$1"; shift
  drive "$@" && [ "$OUT" = "$expected" ] && return 0
  echo "  got: '$OUT' $ERR (expected '$expected')"
  return 1
}

# A settings file as the program keeps it: UTF-16LE with a byte-order mark, CRLF lines.
write_ini() {  # file, lines...
  local file="$1"; shift
  { printf '\xff\xfe'; printf '%s\r\n' "$@" | iconv -f UTF-8 -t UTF-16LE; } > "$file"
}

# The settings file as UTF-8 lines without the byte-order mark and carriage returns.
ini_lines() {  # file
  if [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" = "fffe" ]; then
    tail -c +3 "$1" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r'
  else
    tr -d '\r' < "$1"
  fi
}

# A fresh folder with its own copy of the program; lines given become its settings file.
new_instance() {  # name, settings lines...
  PROGRAM_DIR="$W/$1"; shift
  rm -rf "$PROGRAM_DIR"
  mkdir -p "$PROGRAM_DIR"
  cp "$PROGRAM_EXE" "$PROGRAM_DIR/Kawauso04.exe"
  if [ $# -gt 0 ]; then
    write_ini "$PROGRAM_DIR/KaWUmi.ini" "$@"
  fi
}

# Starts the instance's program with the options given; does not wait for its window.
start_program() {  # options...
  (cd "$PROGRAM_DIR" && exec wine ./Kawauso04.exe "$@" > program.log 2>&1) &
  PROGRAM_PID=$!
}

# Waits until the program's process has ended; its exit status in PROGRAM_STATUS.
wait_program_exit() {  # seconds
  local i
  for i in $(seq 1 $(( $1 * 10 ))); do
    if ! kill -0 "$PROGRAM_PID" 2>/dev/null; then
      wait "$PROGRAM_PID"
      PROGRAM_STATUS=$?
      PROGRAM_PID=""
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Closes the program with its close box; true when it has ended. A program that does not
# end is killed, so the next test starts alone.
close_program() {
  drive close && wait_program_exit 15 && return 0
  echo "  the program did not end after its close box; killed"
  kill "$PROGRAM_PID" 2>/dev/null
  wait "$PROGRAM_PID" 2>/dev/null
  PROGRAM_PID=""
  return 1
}

# The Windows path of a file, for the program's settings.
windows_path() {  # unix path
  winepath -w "$1" 2>/dev/null
}

# Plays a sine into TestMic (raw, in the background) for seconds at an amplitude in dBFS.
feed_tone() {  # frequency, seconds, gain dB
  local raw="$W/feed-$1-$2.raw"
  [ -f "$raw" ] || sox -n -r 44100 -b 16 -c 2 -e signed -t raw "$raw" synth "$2" sine "$1" gain "$3" 2>/dev/null
  pacat --playback --raw -d "$MIC_SINK" --rate=44100 --channels=2 --format=s16le "$raw" >/dev/null 2>&1 &
  FEED_PID=$!
  E2E_PIDS+=("$FEED_PID")
}

stop_feed() {
  kill "$FEED_PID" 2>/dev/null
  wait "$FEED_PID" 2>/dev/null
}

# Records a device's monitor (raw s16le stereo 44100) in the background; returns once the
# first sound data has arrived, so a recording's length is what the caller waits for.
record_start() {  # sink, file
  rm -f "$2"
  parec --raw -d "$1.monitor" --format=s16le --rate=44100 --channels=2 --latency-msec=20 "$2" >/dev/null 2>&1 &
  RECORD_PID=$!
  E2E_PIDS+=("$RECORD_PID")
  local i
  for i in $(seq 1 150); do
    [ -s "$2" ] && return 0
    sleep 0.02
  done
  echo "  the recorder of $1 got no data in 3 s"
  return 1
}

record_stop() {
  kill "$RECORD_PID" 2>/dev/null
  wait "$RECORD_PID" 2>/dev/null
}

# Records what TestSpeaker plays for seconds (a fraction allowed) into file.
record_speaker() {  # file, seconds
  record_start "$SPEAKER_SINK" "$1"
  sleep "$2"
  record_stop
}

# Records TestSpeaker and, at the same time, the signal fed into TestMic.
record_both() {  # speaker file, fed file, seconds
  record_start "$MIC_SINK" "$2"
  local fed_pid=$RECORD_PID
  record_start "$SPEAKER_SINK" "$1"
  sleep "$3"
  record_stop
  kill "$fed_pid" 2>/dev/null
  wait "$fed_pid" 2>/dev/null
}

analyze() {  # kawauso-analyze arguments; output in AOUT
  AOUT=$("$ANALYZE" "$@" 2>&1)
}

# key=value from a line of key=value pairs.
field() {  # line, key
  echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}

# A number lies within [low, high] (decimals allowed).
within() {  # value, low, high
  awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v != "" && v >= lo && v <= hi) }'
}

# The strongest frequency of a recording lies within percent of the expected one.
frequency_near() {  # file, expected Hz, percent
  analyze freq "$1"
  local f="$AOUT"
  within "$f" "$(awk -v e="$2" -v p="$3" 'BEGIN { print e * (1 - p / 100) }')" \
               "$(awk -v e="$2" -v p="$3" 'BEGIN { print e * (1 + p / 100) }')" && return 0
  echo "  $(basename "$1"): $f Hz, expected $2 Hz"
  return 1
}

# The RMS of a recording over a reference level lies within [low, high].
level_ratio_within() {  # file, reference rms, low, high
  analyze level "$1"
  local rms
  rms=$(field "$AOUT" rms)
  local ratio
  ratio=$(awk -v a="$rms" -v b="$2" 'BEGIN { printf "%.3f", a / b }')
  within "$ratio" "$3" "$4" && return 0
  echo "  $(basename "$1"): level ratio $ratio ($AOUT), expected $3..$4"
  return 1
}

# Waits until a control's text is the expected one (a stream starting or tearing down).
wait_text() {  # id, expected, seconds
  local i
  for i in $(seq 1 $(( $3 * 10 ))); do
    drive text "$1" && [ "$OUT" = "$2" ] && return 0
    sleep 0.1
  done
  echo "  control $1 shows '$OUT', expected '$2'"
  return 1
}

# Waits until a control's enabled state is the expected one.
wait_enabled() {  # id, 0|1, seconds
  local i
  for i in $(seq 1 $(( $3 * 10 ))); do
    drive enabled "$1" && [ "$OUT" = "$2" ] && return 0
    sleep 0.1
  done
  echo "  control $1 enabled=$OUT, expected $2"
  return 1
}
