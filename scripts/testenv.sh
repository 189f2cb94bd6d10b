# Sourced by the test runner and ./run: a private Wine prefix, virtual display and audio
# server for this checkout. Every process started here is recorded and stopped by PID; the
# Wine server is stopped through our own prefix only.
#
#   testenv_start [--no-audio] [--no-display]   sets WINEPREFIX, DISPLAY, XDG_RUNTIME_DIR, PULSE_SERVER
#   testenv_stop
#   testenv_wine PROGRAM ARGS...                runs a Windows program in the prefix

TESTENV_ROOT="${TESTENV_ROOT:-$(pwd)/build/testenv}"
TESTENV_PIDS="$TESTENV_ROOT/pids"

_testenv_record() { echo "$1" >> "$TESTENV_PIDS"; }

_testenv_start_display() {
  local fdfile="$TESTENV_ROOT/displayfd"
  rm -f "$fdfile"
  # -displayfd picks a free display number and writes it once the server is ready.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  _testenv_record $!
  local i
  for i in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$fdfile" | tr -d '[:space:]')"
}

_testenv_start_audio() {
  export XDG_RUNTIME_DIR="$TESTENV_ROOT/runtime"
  rm -rf "$XDG_RUNTIME_DIR"
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  HOME="$TESTENV_ROOT/home" pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native" \
    --load="module-null-sink sink_name=mic_src rate=44100 channels=2 format=s16le sink_properties=device.description=TestMic" \
    --load="module-null-sink sink_name=spk rate=44100 channels=2 format=s16le sink_properties=device.description=TestSpeaker" \
    --load=module-always-sink >/dev/null 2>&1
  local i
  for i in $(seq 1 50); do
    [ -s "$XDG_RUNTIME_DIR/pulse/pid" ] && pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  _testenv_record "$(cat "$XDG_RUNTIME_DIR/pulse/pid")"
  # A real sound card is always clocked; an idle null sink is not, so keep both running.
  pacat --playback --raw -d mic_src /dev/zero >/dev/null 2>&1 &
  _testenv_record $!
  pacat --playback --raw -d spk /dev/zero >/dev/null 2>&1 &
  _testenv_record $!
}

_testenv_reg() { wine reg add "$@" /f >/dev/null 2>&1; }

_testenv_init_prefix() {
  if [ -f "$WINEPREFIX/.kawauso-ready" ]; then
    return 0
  fi
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  _testenv_reg 'HKCU\Software\Wine\Drivers' /v Audio /d pulse
  _testenv_reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
  _testenv_reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
  _testenv_reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  local font
  for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "MS UI Gothic"; do
    _testenv_reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$font" /t REG_MULTI_SZ /d "ipag.ttf,IPAGothic"
  done
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
  cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null ||
    cp /usr/share/fonts/truetype/fonts-japanese-gothic.ttf "$WINEPREFIX/drive_c/windows/Fonts/ipag.ttf" 2>/dev/null
  wineserver -w
  touch "$WINEPREFIX/.kawauso-ready"
}

testenv_start() {
  local audio=1 display=1 arg
  for arg in "$@"; do
    case "$arg" in
      --no-audio) audio=0 ;;
      --no-display) display=0 ;;
    esac
  done
  mkdir -p "$TESTENV_ROOT/home"
  : > "$TESTENV_PIDS"
  export WINEPREFIX="$TESTENV_ROOT/prefix"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEARCH=win64
  [ "$display" = 1 ] && _testenv_start_display
  [ "$audio" = 1 ] && _testenv_start_audio
  _testenv_init_prefix
  # One persistent Wine server for the whole run, so each program starts quickly.
  wineserver -p
}

testenv_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1
  fi
  if [ -f "$TESTENV_PIDS" ]; then
    local pid
    while read -r pid; do
      [ -n "$pid" ] && kill "$pid" 2>/dev/null
    done < "$TESTENV_PIDS"
    rm -f "$TESTENV_PIDS"
  fi
}

testenv_wine() { wine "$@"; }
