# Sourced by the test runner and ./run: a private Wine prefix, virtual display and audio
# server for this checkout. Every process started here is recorded and stopped by PID; the
# Wine server is stopped through our own prefix only.
#
#   testenv_start [--no-audio] [--no-display]   sets WINEPREFIX, DISPLAY, XDG_RUNTIME_DIR, PULSE_SERVER
#   testenv_stop
#   testenv_wine PROGRAM ARGS...                runs a Windows program in the prefix
#   testenv_probe_32bit                         sets KAWAUSO_RUNS_32BIT (yes or no)
#   testenv_without_32bit_loader COMMAND...     runs it where the 32-bit loader fails
#
# Some machines cannot run any 32-bit process, and there /usr/bin/wine still picks Wine's
# 32-bit loader whenever it is installed, failing every program, 64-bit ones too. There (or
# on any machine with KAWAUSO_WINE64_ONLY=1) every Wine run goes through the 64-bit loader, in
# a prefix of its own that loader made.

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

testenv_probe_32bit() {  # once: what the first probe found holds for everything started after it
  if [ -z "${KAWAUSO_RUNS_32BIT:-}" ]; then
    KAWAUSO_RUNS_32BIT=no
    if [ "${KAWAUSO_WINE64_ONLY:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
      KAWAUSO_RUNS_32BIT=yes
    fi
    export KAWAUSO_RUNS_32BIT
  fi
}

# wine, and wine-stable (which wineboot and winepath call): a 64-bit program in Wine's 64-bit
# loader, anything else in the 32-bit one (where none can run, the 64-bit one too). Through the
# 32-bit loader a 64-bit program runs in a second process whose end it relays: a start that
# failed there is an exit 1 without a word, and a kill of that process reads as exit 0.
_testenv_choose_loaders() {
  local bin="$TESTENV_ROOT/wine-loaders" name other=/usr/lib/wine/wine
  [ "$KAWAUSO_RUNS_32BIT" = yes ] || other=/usr/lib/wine/wine64
  mkdir -p "$bin"
  for name in wine wine-stable; do
    cat > "$bin/$name" <<SHIM
#!/bin/sh
if [ -f "\$1" ] && [ "\$(od -An -tx2 -j \$((\$(od -An -tu4 -j 60 -N 4 "\$1" 2>/dev/null) + 4)) -N 2 "\$1" 2>/dev/null | tr -d ' ')" = 8664 ]; then
  exec /usr/lib/wine/wine64 "\$@"
fi
exec $other "\$@"
SHIM
    chmod +x "$bin/$name"
  done
  export PATH="$bin:$PATH"
  [ "$KAWAUSO_RUNS_32BIT" = yes ] || export WINELOADER=/usr/lib/wine/wine64
}

# Runs a command where Wine's 32-bit loader fails as it does on a machine that cannot run it, so
# that KAWAUSO_WINE64_ONLY=1 tries what such a machine would do: in a mount namespace of its own
# (as root), else as it is.
testenv_without_32bit_loader() {
  local fails="$PWD/build/no-32bit-loader"
  mkdir -p build
  printf '#!/bin/sh\necho "wine: Exec format error (no 32-bit process here)" >&2\nexit 126\n' > "$fails"
  chmod +x "$fails"
  if [ "$(id -u)" = 0 ] && [ -e /usr/lib/wine/wine ] && unshare -m true 2>/dev/null; then
    exec unshare -m sh -c 'mount --bind "$0" /usr/lib/wine/wine && exec "$@"' "$fails" "$@"
  fi
  echo "no mount namespace here: Wine's 32-bit loader stays, though nothing here starts it" >&2
  exec "$@"
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
  testenv_probe_32bit
  export WINEPREFIX="$TESTENV_ROOT/prefix"
  [ "$KAWAUSO_RUNS_32BIT" = yes ] || WINEPREFIX="$TESTENV_ROOT/prefix64"  # the 64-bit loader's own
  _testenv_choose_loaders
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEARCH=win64
  # A server left by a run that crashed or was killed holds the prefix: the persistent one
  # below could not start, and every program of this run would meet the old run's state.
  wineserver -k >/dev/null 2>&1
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
