#!/usr/bin/env bash
# kawauso-render: refuses every bad input cleanly, and all three builds give the same bytes.
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

NATIVE=build/native/tools/kawauso-render/kawauso-render
WIN32=build/win32/tools/kawauso-render/kawauso-render.exe
WIN64=build/win64/tools/kawauso-render/kawauso-render.exe
W=build/results/render_test

sox -n -r 44100 -b 16 -c 2 -e signed $W/tone.wav synth 3 sine 450 sine 300 gain -8 2>/dev/null
sox -n -r 44100 -b 16 -c 2 -e signed $W/loud.wav synth 1 sine 450 gain -1 2>/dev/null
sox -n -r 44100 -b 16 -c 2 -e signed $W/noise.wav synth 2.3 whitenoise gain -12 2>/dev/null
sox -n -r 44100 -b 16 -c 1 -e signed $W/mono.wav synth 1 sine 440 2>/dev/null
sox -n -r 48000 -b 16 -c 2 -e signed $W/48k.wav synth 1 sine 440 2>/dev/null
sox -n -r 44100 -b 8 -c 2 -e unsigned $W/8bit.wav synth 1 sine 440 2>/dev/null
head -c 30000 $W/tone.wav > $W/truncated.wav
echo "not a wave file at all, just text" > $W/text.wav

# A refused run exits 2, says why on stderr, and leaves OUT exactly as it was.
refused() {  # renderer, args...
  local exe="$1"; shift
  echo "previous contents" > $W/out.wav
  local code=0
  if [[ "$exe" == *.exe ]]; then wine "$exe" "$@" 2> $W/err.txt >/dev/null || code=$?; else "$exe" "$@" 2> $W/err.txt >/dev/null || code=$?; fi
  [ "$code" = 2 ] && [ -s $W/err.txt ] && [ "$(cat $W/out.wav)" = "previous contents" ] &&
    [ ! -e $W/out.wav.partial ]
}

for exe in $NATIVE $WIN32; do
  tag=$(basename "$(dirname "$(dirname "$(dirname "$exe")")")")
  check "$tag refuses a missing input" refused $exe $W/nothing.wav $W/out.wav
  check "$tag refuses mono" refused $exe $W/mono.wav $W/out.wav
  check "$tag refuses 48 kHz" refused $exe $W/48k.wav $W/out.wav
  check "$tag refuses 8-bit" refused $exe $W/8bit.wav $W/out.wav
  check "$tag refuses a truncated file" refused $exe $W/truncated.wav $W/out.wav
  check "$tag refuses a text file" refused $exe $W/text.wav $W/out.wav
  check "$tag refuses pitch 201" refused $exe --pitch 201 $W/tone.wav $W/out.wav
  check "$tag refuses volume -101" refused $exe --volume -101 $W/tone.wav $W/out.wav
  check "$tag refuses buffer 9 ms" refused $exe --buffer-ms 9 $W/tone.wav $W/out.wav
  check "$tag refuses buffer 10001 ms" refused $exe --buffer-ms 10001 $W/tone.wav $W/out.wav
  check "$tag refuses a non-number" refused $exe --pitch 3x $W/tone.wav $W/out.wav
  check "$tag refuses a missing value" refused $exe $W/tone.wav $W/out.wav --pitch
  check "$tag refuses a missing OUT" refused $exe $W/tone.wav
  check "$tag refuses an unknown option" refused $exe --fast $W/tone.wav $W/out.wav
done

check "help exits 0 with the usage" bash -c "$NATIVE --help | grep -q -- --buffer-ms"

# Output: same length, 44100 Hz 16-bit stereo, clipping counted.
$NATIVE $W/tone.wav $W/plain.wav 2> $W/plain.err
check "output keeps the input's length and format" bash -c \
  "[ \"\$(soxi -s $W/tone.wav)\" = \"\$(soxi -s $W/plain.wav)\" ] && [ \"\$(soxi -r $W/plain.wav)\" = 44100 ] && [ \"\$(soxi -c $W/plain.wav)\" = 2 ] && [ \"\$(soxi -b $W/plain.wav)\" = 16 ]"
check "a quiet input reports no clipped blocks" grep -qx 'clipped blocks: 0' $W/plain.err
$NATIVE --volume -100 $W/loud.wav $W/clipped.wav 2> $W/clipped.err
check "a loud input at x10 reports every block clipped" grep -qx 'clipped blocks: 20' $W/clipped.err

# Bit-identical audio in every build.
combos=("" "--pitch -200 --volume -100 --buffer-ms 10" "--pitch 200 --volume 50 --buffer-ms 20"
        "--pitch 37 --volume -30 --buffer-ms 13" "--pitch -77 --buffer-ms 1000 --no-fade")
for input in tone noise; do
  for i in "${!combos[@]}"; do
    opts=${combos[$i]}
    $NATIVE $opts $W/$input.wav $W/n.wav 2>/dev/null
    wine $WIN32 $opts $W/$input.wav $W/w32.wav 2>/dev/null
    wine $WIN64 $opts $W/$input.wav $W/w64.wav 2>/dev/null
    check "identical bytes native/win32/win64: $input ${opts:-defaults}" \
      bash -c "cmp -s $W/n.wav $W/w32.wav && cmp -s $W/n.wav $W/w64.wav"
  done
done
