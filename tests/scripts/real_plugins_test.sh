#!/usr/bin/env bash
# Real VST 2 effects that Debian packages for Linux (dpf-plugins-vst, zam-plugins) through the
# native renderer, which loads them with the same host code as the program: a tone and a
# spoken phrase each. Every effect with inputs and outputs renders (exit 0, the whole length);
# the instruments, which have no inputs, are refused with the renderer's message; none
# crashes or hangs it.
source "$(dirname "$0")/lib.sh"
RENDER=$NATIVE_TREE/kawauso-render
INSTRUMENTS="Kars-vst Nekobi-vst"  # synthesizers: no input to give them
EFFECTS=$(ls /usr/lib/vst/*.so /usr/lib/vst/*/*.so 2>/dev/null)

sox -n -r 44100 -b 16 -c 2 -e signed "$W/tone.wav" synth 1 sine 450 gain -12
espeak-ng -w "$W/phrase.wav" "kawauso" && sox "$W/phrase.wav" -r 44100 -c 2 -b 16 "$W/speech.wav"

renders() {  # effect: both inputs render whole, or an instrument is refused
  local input name; name=$(basename "$1" .so)
  for input in tone speech; do
    timeout 30 "$RENDER" --plugin "$1" "$W/$input.wav" "$W/out.wav" > "$W/render.out" 2>&1
    local code=$?
    if [[ " $INSTRUMENTS " == *" $name "* ]]; then
      [ $code = 2 ] && grep -q "cannot load the plug-in" "$W/render.out" && continue
    elif [ $code = 0 ] && [ "$(soxi -s "$W/out.wav")" = "$(soxi -s "$W/$input.wav")" ]; then
      continue
    fi
    echo "  $name, $input: exit $code: $(head -c 200 "$W/render.out")"; return 1
  done
}

check "the packaged effects are installed" test -n "$EFFECTS"
for effect in $EFFECTS; do
  check "$(basename "$effect" .so)" renders "$effect"
done

# The same effects through the native host process, on the tone: the same bytes as in-process
# (the same length where the effect's own two renders differ: noise, grains), or the same refusal.
isolated_same() {  # effect
  local input code own
  for input in tone; do
    timeout 30 "$RENDER" --plugin "$1" "$W/$input.wav" "$W/own.wav" > /dev/null 2>&1
    own=$?
    timeout 30 "$RENDER" --isolated --plugin "$1" "$W/$input.wav" "$W/isolated.wav" > "$W/render.out" 2>&1
    code=$?
    if [ $code = $own ] && [ $code != 0 ]; then continue; fi
    if [ $code = $own ] && ! cmp -s "$W/own.wav" "$W/isolated.wav"; then
      timeout 30 "$RENDER" --plugin "$1" "$W/$input.wav" "$W/again.wav" > /dev/null 2>&1
      cmp -s "$W/own.wav" "$W/again.wav" || [ "$(soxi -s "$W/own.wav")" != "$(soxi -s "$W/isolated.wav")" ] ||
        continue
    elif [ $code = $own ]; then
      continue
    fi
    echo "  $(basename "$1" .so), $input: exit $code (in-process $own): $(head -c 200 "$W/render.out")"
    return 1
  done
}
for effect in $EFFECTS; do
  check "$(basename "$effect" .so) in a host process: as in-process" isolated_same "$effect"
done
