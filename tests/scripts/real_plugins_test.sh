#!/usr/bin/env bash
# Real VST 2 modules that Debian packages for Linux (dpf-plugins-vst and zam-plugins always; also
# lsp-plugins-vst, dragonfly-reverb-vst, iem-plugin-suite-vst where installed) through the
# native renderer, which loads them with the same host code as the program. Each module is
# judged by what it is, as a probe of its own finds it (tests/analysis/vst-kind.py): an effect
# renders a tone and a spoken phrase whole, and the tone is heard through it; an instrument, a
# support library or a module out of the host's channel range is refused with exit 2 and the
# renderer's message; nothing crashes or hangs. Each effect renders through the native host
# process as it does in-process.
source "$(dirname "$0")/lib.sh"
RENDER=$NATIVE_TREE/kawauso-render
# Effects whose defaults give silence for a tone, and why.
declare -A SILENT=(
  [AmplitudeImposer-vst]="imposes the side-chain input's level, and the host feeds side-chains silence"
  [latency-meter]="plays nothing until a measurement is started"
  [profiler-mono]="plays nothing until a measurement is started"
  [profiler-stereo]="plays nothing until a measurement is started"
  [libAllRADecoder]="an Ambisonics decoder with no loudspeaker layout loaded"
  [libSimpleDecoder]="an Ambisonics decoder with no decoder preset loaded"
  [libMatrixMultiplier]="no matrix loaded"
)
SILENCE_RMS=0.0001  # -80 dBFS: a tone at -12 dBFS through any effect that passes sound is far above

sox -n -r 44100 -b 16 -c 2 -e signed "$W/tone.wav" synth 1 sine 450 gain -12
espeak-ng -w "$W/phrase.wav" "kawauso" && sox "$W/phrase.wav" -r 44100 -c 2 -b 16 "$W/speech.wav"
MODULES=$(find -L /usr/lib/vst /usr/lib/lxvst -name '*.so' -exec realpath {} \; 2>/dev/null | sort -u)

render() {  # module, input[, output, options...]: exit code in CODE, messages in $W/render.out
  timeout 30 "$RENDER" "${@:4}" --plugin "$1" "$W/$2.wav" "$W/${3:-out}.wav" > "$W/render.out" 2>&1; CODE=$?
}
rms() { sox "$1" -n stat 2>&1 | awk '/^RMS +amplitude/ { print $3 }'; }

renders_whole() {  # module, name
  local input level
  for input in tone speech; do
    render "$1" "$input"
    if [ $CODE != 0 ] || [ "$(soxi -s "$W/out.wav")" != "$(soxi -s "$W/$input.wav")" ]; then
      echo "  $2, $input: exit $CODE: $(grep -v assertion "$W/render.out" | head -c 200)"; return 1
    fi
    [ "$input" = tone ] || continue
    level=$(rms "$W/out.wav")
    [ -n "${SILENT[$2]+set}" ] || within "$level" $SILENCE_RMS 1 || { echo "  $2: the tone came out silent (RMS $level)"; return 1; }
  done
}

refused() {  # module, name
  render "$1" tone
  [ $CODE = 2 ] && grep -q "cannot load the plug-in" "$W/render.out" && return 0
  echo "  $2: exit $CODE, expected 2 and the renderer's refusal: $(head -c 200 "$W/render.out")"; return 1
}

survives() {  # module, name: the probe could not tell; the renderer must end cleanly all the same
  render "$1" tone
  case $CODE in 0 | 2 | 3) return 0 ;; esac
  echo "  $2: exit $CODE (crashed or hung)"; return 1
}

# An effect through the native host process, on the tone: the same bytes as in-process. One whose
# own two renders differ (noise, grains, time) is named as not comparable and judged by length and
# level: within 3 dB of each other, and heard unless silent by design.
isolated_same() {  # module, name
  local own a b
  render "$1" tone own; own=$CODE; render "$1" tone isolated --isolated
  [ $CODE = 0 ] && [ $own = 0 ] || { echo "  $2: exit $CODE (in-process $own): $(head -c 200 "$W/render.out")"; return 1; }
  cmp -s "$W/own.wav" "$W/isolated.wav" && return 0
  render "$1" tone again
  cmp -s "$W/own.wav" "$W/again.wav" && { echo "  $2: the host process's output differs from in-process"; return 1; }
  a=$(rms "$W/own.wav") b=$(rms "$W/isolated.wav") && echo "  $2: not comparable bit for bit, its own renders differ; RMS $a, isolated $b"
  [ "$(soxi -s "$W/own.wav")" = "$(soxi -s "$W/isolated.wav")" ] && within "$b" "$(calc "$a / 1.41")" "$(calc "$a * 1.41")" &&
    { [ -n "${SILENT[$2]+set}" ] || within "$a" $SILENCE_RMS 1; }
}

check "the packaged effects are installed" test -n "$MODULES"
declare -A SEEN=()
while read -r kind inputs outputs module; do
  name=$(basename "$module" .so)
  SEEN[$kind]=$((${SEEN[$kind]:-0} + 1))
  case $kind in
    effect) check "$name ($inputs in, $outputs out)" renders_whole "$module" "$name"
            check "$name in a host process: as in-process" isolated_same "$module" "$name" ;;
    broken) check "$name (the probe failed)" survives "$module" "$name" ;;
    *) check "$name is refused ($kind)" refused "$module" "$name" ;;
  esac
done < <(python3 "$ROOT/tests/analysis/vst-kind.py" $MODULES 2>/dev/null)
echo "  modules seen:$(for kind in effect instrument library outofrange noeffect broken; do
  printf ' %s=%s' $kind "${SEEN[$kind]:-0}"; done)"

# Chains of real effects without gain of their own (dpf-plugins-vst and zam-plugins, always
# installed): as one render, in-process and in host processes alike, within a step per effect
# after the first of the same effects rendered one after another (each of those renders rounds
# to 16 bits, the chain never does in between; an effect with gain, ZaMaximX2 or ZamTube, would
# magnify that rounding).
CHAINS=("3BandEQ-vst ZamCompX2-vst" "ZamEQ2-vst ZamGate-vst" "3BandEQ-vst ZamEQ2-vst ZamGate-vst")
chain_as_separate() {  # names
  local name args=() isolated=() steps=-1
  cp "$W/tone.wav" "$W/separate.wav"
  for name in $1; do
    args+=(--plugin "/usr/lib/vst/$name.so") isolated+=(--plugin "/usr/lib/vst/$name.so" --isolated)
    steps=$((steps + 1))
    timeout 30 "$RENDER" --no-fade --plugin "/usr/lib/vst/$name.so" "$W/separate.wav" "$W/next.wav" > /dev/null 2>&1 &&
      mv "$W/next.wav" "$W/separate.wav" || { echo "  $name alone did not render"; return 1; }
  done
  timeout 30 "$RENDER" --no-fade "${args[@]}" "$W/tone.wav" "$W/chain.wav" > "$W/render.out" 2>&1 &&
    timeout 30 "$RENDER" --no-fade "${isolated[@]}" "$W/tone.wav" "$W/chain-isolated.wav" >> "$W/render.out" 2>&1 ||
    { echo "  $(head -c 200 "$W/render.out")"; return 1; }
  cmp -s "$W/chain.wav" "$W/chain-isolated.wav" || { echo "  in host processes the chain sounds otherwise"; return 1; }
  local most
  most=$(/usr/bin/python3 -c 'import sys, wave, numpy as n
r = lambda f: n.frombuffer(wave.open(f).readframes(1 << 30), "<i2").astype(int)
print(abs(r(sys.argv[1]) - r(sys.argv[2])).max())' "$W/chain.wav" "$W/separate.wav")
  [ "$most" -le "$steps" ] || { echo "  $most steps from the separate renders, $steps allowed"; return 1; }
}
for chain in "${CHAINS[@]}"; do
  present=1
  for name in $chain; do [ -e "/usr/lib/vst/$name.so" ] || present=0; done
  [ $present = 1 ] && check "chain ${chain// / -> }: as one render, isolated alike, as separate ones" chain_as_separate "$chain"
done
