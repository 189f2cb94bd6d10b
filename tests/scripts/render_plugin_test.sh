#!/usr/bin/env bash
# kawauso-render --plugin: the blocks go through a real effect set up as a load into a running
# stream would set it up; a plug-in that cannot be loaded is refused cleanly; every build
# gives the same bytes.
source "$(dirname "$0")/lib.sh"
cd "$ROOT"

W=build/results/render_plugin_test
declare -A RENDER=(
  [native]=build/native/tools/kawauso-render/kawauso-render
  [win32]=build/win32/tools/kawauso-render/kawauso-render.exe
  [win64]=build/win64/tools/kawauso-render/kawauso-render.exe)
declare -A PLUGINS=([native]=build/native/tests/plugins [win32]=build/win32/tests/plugins
                    [win64]=build/win64/tests/plugins)
declare -A SUFFIX=([native]=so [win32]=dll [win64]=dll)

run() {  # build, args...: the renderer of that build, stdout dropped, stderr to $W/err.txt
  local build="$1"; shift
  if [ "$build" = native ]; then
    "${RENDER[$build]}" "$@" 2> $W/err.txt >/dev/null
  else
    wine "${RENDER[$build]}" "$@" 2> $W/err.txt >/dev/null
  fi
}

sox -n -r 44100 -b 16 -c 2 -e signed $W/tone.wav synth 3 sine 450 sine 300 gain -3 2>/dev/null
sox -n -r 44100 -b 16 -c 2 -e signed $W/noise.wav synth 1.7 whitenoise 2>/dev/null
echo "not a library" > $W/text.so
cp $W/text.so $W/text.dll

# Copy-through with no fade: every sample s >= 0 comes back as s, every s < 0 as s + 1.
copy_through_exact() {  # in.wav out.wav
  python3 - "$1" "$2" <<'EOF'
import struct, sys, wave
def samples(path):
    with wave.open(path, "rb") as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100)
        data = w.readframes(w.getnframes())
    return struct.unpack("<%dh" % (len(data) // 2), data)
a, b = samples(sys.argv[1]), samples(sys.argv[2])
sys.exit(0 if len(a) == len(b) and all(y == (x + 1 if x < 0 else x) for x, y in zip(a, b)) else 1)
EOF
}

# A refused run exits 2, says why on stderr, and leaves OUT exactly as it was.
refused() {  # build, args...
  local build="$1"; shift
  echo "previous contents" > $W/out.wav
  local code=0
  run "$build" "$@" || code=$?
  [ "$code" = 2 ] && [ -s $W/err.txt ] && [ "$(cat $W/out.wav)" = "previous contents" ] &&
    [ ! -e $W/out.wav.partial ]
}

for build in native win32 win64; do
  dir=${PLUGINS[$build]}
  ext=${SUFFIX[$build]}
  run $build --no-fade --plugin $dir/copy_through.$ext $W/noise.wav $W/copy-$build.wav
  check "$build copy-through gives every sample back, negatives one up" \
    copy_through_exact $W/noise.wav $W/copy-$build.wav
  check "$build reports no clipping on the effect path" grep -q '^clipped blocks: 0.\?$' $W/err.txt

  check "$build refuses a missing plug-in" refused $build --plugin $dir/nothing.$ext $W/tone.wav $W/out.wav
  check "$build says the plug-in did not load" grep -q 'cannot load the plug-in' $W/err.txt
  check "$build refuses a file that is not a library" refused $build --plugin $W/text.$ext $W/tone.wav $W/out.wav
  check "$build refuses a 1-in/1-out effect" refused $build --plugin $dir/mono.$ext $W/tone.wav $W/out.wav
  check "$build refuses an entry point that gives no effect" \
    refused $build --plugin $dir/null_effect.$ext $W/tone.wav $W/out.wav
  check "$build refuses a library without entry point" \
    refused $build --plugin $dir/no_entry.$ext $W/tone.wav $W/out.wav
  check "$build refuses --plugin without a path" refused $build $W/tone.wav $W/out.wav --plugin
done
check "win32 refuses a 64-bit DLL" refused win32 --plugin ${PLUGINS[win64]}/copy_through.dll $W/tone.wav $W/out.wav
check "win64 refuses a 32-bit DLL" refused win64 --plugin ${PLUGINS[win32]}/copy_through.dll $W/tone.wav $W/out.wav

# The same bytes from every build, with the fade-in, odd block lengths and a hostile effect.
for variant in copy_through hostile asking; do
  for opts in "" "--buffer-ms 13" "--buffer-ms 1000 --no-fade"; do
    for build in native win32 win64; do
      run $build $opts --plugin ${PLUGINS[$build]}/$variant.${SUFFIX[$build]} $W/tone.wav $W/$build.wav
    done
    check "identical bytes native/win32/win64: $variant ${opts:-defaults}" \
      bash -c "cmp -s $W/native.wav $W/win32.wav && cmp -s $W/native.wav $W/win64.wav"
  done
done

# What the effect sees: the load of a running stream, then one call per block (the last one
# shorter), then the unload. The effect logs when "<module>.log" exists beside it.
expected_calls() {  # block frames, total frames
  python3 - "$1" "$2" <<'EOF'
import sys
block, total = int(sys.argv[1]), int(sys.argv[2])
def d(op, value=0, opt="0"):
    return f"dispatcher opcode={op} index=0 value={value} opt={opt} ptr=null nested=0"
lines = ["attach", "entry VSTPluginMain", d(0), d(10, 0, "44100"), d(12, 0), d(11, block), d(12, 1)]
done = 0
while done < total:
    frames = min(block, total - done)
    lines.append(f"process frames={frames} ftz=1 daz=1")
    done += frames
lines += [d(12, 0), d(1), "detach"]
print("\n".join(lines))
EOF
}

for build in native win32; do
  mkdir -p $W/logged-$build
  cp ${PLUGINS[$build]}/copy_through.${SUFFIX[$build]} $W/logged-$build/
  plugin=$W/logged-$build/copy_through.${SUFFIX[$build]}
  : > $plugin.log
  run $build --buffer-ms 50 --plugin $plugin $W/tone.wav $W/logged.wav
  expected_calls 2206 132300 > $W/expected-calls.txt
  check "$build: the effect is loaded, sized, run block by block and unloaded in order" \
    cmp -s <(tr -d '\r' < $plugin.log) $W/expected-calls.txt
  : > $plugin.log
  run $build --buffer-ms 13 --plugin $plugin $W/noise.wav $W/logged.wav
  expected_calls 574 74970 > $W/expected-calls.txt
  check "$build: blocks of a 13 ms buffer" cmp -s <(tr -d '\r' < $plugin.log) $W/expected-calls.txt
done
