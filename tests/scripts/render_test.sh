#!/usr/bin/env bash
# kawauso-render, native, win32 and win64: bad input refused with its reason, help, the
# clipping count, the same bytes from every build, an effect's output, OUT not a plain file.
source "$(dirname "$0")/lib.sh"
ALL="native win32 win64"
# Copies of the test effects of our own: an effect logs beside itself, and the Windows tier,
# running beside this suite, listens to the build's own copies.
for build in $ALL; do mkdir -p "$W/plugins" && cp -r "${TREE[$build]}/tests/plugins" "$W/plugins/$build"; done
render() {  # build, args...: exit status (124: did not end within a minute); output in $W/{out,err}.txt
  if [ "$1" = native ]; then timeout 60 "$NATIVE_TREE/kawauso-render" "${@:2}"
  else timeout 60 wine "${TREE[$1]}/kawauso-render.exe" "${@:2}"; fi > "$W/out.txt" 2> "$W/err.txt"
}
expand() {  # build, args: @P stands for the build's test effect folder, @X for its suffix
  local s=${2//@P/$W/plugins/$1} x=dll; [ $1 = native ] && x=so; echo "${s//@X/$x}"
}
sox -n -r 44100 -b 16 -c 2 -e signed $W/tone.wav synth 3 sine 450 sine 300 gain -8
sox -n -r 44100 -b 16 -c 2 -e signed $W/loud.wav synth 1 sine 450 gain -1
SEED=${KAWAUSO_NOISE_SEED:-$RANDOM$RANDOM} && echo "  noise seed $SEED (KAWAUSO_NOISE_SEED=$SEED draws it again)"
python3 -c "import random,sys; sys.stdout.buffer.write(random.Random($SEED).randbytes(405720))" |  # 2.3 s
  sox -D -t raw -r 44100 -b 16 -c 2 -e signed - $W/noise.wav vol 0.25
sox -n -r 44100 -b 16 -c 1 -e signed $W/mono.wav synth 1 sine 440
T=$W/tone.wav O=$W/out.wav
# Kept states of the chunk test effect (unique id 'KwSt', version 3): "KWST", format 1, id,
# version, kind 1 (a chunk), its size, the chunk; one of another effect, one cut short.
state() { printf 'KWST\x01\0\0\0%b\x03\0\0\0\x01\0\0\0\x05\0\0\0hello' "$1"; }
state '\x74\x53\x77\x4b' > $W/state.kwst
state '\x74\x53\x77\x4c' > $W/foreign.kwst
state '\x74\x53\x77\x4b' | head -c 27 > $W/cut.kwst

# A refusal exits 2, says why and leaves OUT as it was. Every reason of the file reader and
# the plug-in loader is tested in-process; here the user gets them. Builds|case|args|reason:
REFUSALS=(
  "$ALL|a missing input|$W/none.wav $O|cannot open the input file"
  "$ALL|mono|$W/mono.wav $O|not 44100 Hz, 16-bit, 2-channel audio"
  "$ALL|pitch 201|--pitch 201 $T $O|--pitch takes a whole number from -200 to 200"
  "$ALL|a pitch not a number|--pitch 3x $T $O|--pitch takes a whole number"
  "$ALL|a pitch missing|$T $O --pitch|--pitch takes a whole number"
  "$ALL|volume -101|--volume -101 $T $O|--volume takes a whole number from -100 to 100"
  "$ALL|buffer 9 ms|--buffer-ms 9 $T $O|--buffer-ms takes a whole number from 10 to 10000"
  "$ALL|buffer 10001 ms|--buffer-ms 10001 $T $O|--buffer-ms takes a whole number"
  "$ALL|an unknown option|--fast $T $O|unknown option --fast"
  "$ALL|a skew beyond 1000 ppm|--clock-skew-ppm 1001 $T $O|--clock-skew-ppm takes a whole number from -1000 to 1000"
  "$ALL|OUT missing|$T|IN.wav and OUT.wav are both needed"
  "$ALL|a plug-in path missing|$T $O --plugin|--plugin takes the path"
  "$ALL|a missing plug-in|--plugin @P/none.@X $T $O|cannot load the plug-in"
  "$ALL|a state without a plug-in|--plugin-state $W/state.kwst $T $O|--plugin-state needs --plugin"
  "$ALL|a state of another effect|--plugin @P/chunk_state.@X --plugin-state $W/foreign.kwst $T $O|for another effect"
  "$ALL|a state cut short|--plugin @P/chunk_state.@X --plugin-state $W/cut.kwst $T $O|damaged"
  "$ALL|a missing state|--plugin @P/chunk_state.@X --plugin-state $W/none.kwst $T $O|cannot read the plug-in state")
# Exit 3: a plug-in that faults or hangs for 5 s (naming the block; which faults the guard catches
# is the core tier's), an OUT that cannot be written. (An effect that calls exit ends the renderer.)
FAULTS=(
  "$ALL|an OUT in a folder that does not exist|$T $W/none/out.wav|cannot create the output file"
  "$ALL|an OUT that is a directory|$T $W/adir|is a directory"
  "$ALL|a fault in processing|--plugin @P/crash_process.@X $T $O|faulted (exception 0x"
  "$ALL|a division by zero in processing|--plugin @P/divide_process.@X $T $O|in block 1"
  "$ALL|a fault while loading|--plugin @P/crash_open.@X $T $O|while loading"
  "$ALL|channels grown in effOpen|--plugin @P/grow_channels.@X $T $O|changed its number of inputs or outputs while loading"
  "native win32|a block that never returns|--plugin @P/hang_process.@X $T $O|did not return from block 1")
refused() {  # build, args, reason[, exit status]
  echo "previous contents" > $O
  render $1 $(expand $1 "$2")
  [ $? = "${4:-2}" ] && grep -qF -- "kawauso-render: " $W/err.txt && grep -qF -- "$3" $W/err.txt &&
    [ "$(cat $O)" = "previous contents" ] && [ ! -e $O.partial ] || { echo "  $1: $(head -n1 $W/err.txt)"; false; }
}
mkdir -p $W/adir
for row in "${REFUSALS[@]}"; do
  IFS='|' read -r builds name args reason <<< "$row"
  each_build "$builds" "refuses $name" refused "$args" "$reason"
done
for row in "${FAULTS[@]}"; do
  IFS='|' read -r builds name args reason <<< "$row"
  each_build "$builds" "exit 3 on $name" refused "$args" "$reason" 3
done

# The watch starts after the load: an effOpen a second longer than the 5 s a block gets.
check "a slow load is no hang (native)" render native --plugin $W/plugins/native/slow_open.so $T $O
helps() { render $1 --help && grep -q -- --buffer-ms $W/out.txt; }
each_build "$ALL" "--help: the usage on stdout, exit 0" helps
render native $T $W/plain.wav
check "a quiet input: no clipped blocks" grep -qx 'clipped blocks: 0' $W/err.txt
printed() { grep -q 'final ratio +0.000 ppm' $W/err.txt && grep -q 'breaks 0, splices 0' $W/err.txt; }
for stream in wasapi winmm; do
  render native --clock-skew-ppm 0 --stream $stream --no-clock-noise $T $W/unskewed.wav
  check "--clock-skew-ppm 0 --stream $stream, no noise: the same bytes as without it" \
    cmp $W/plain.wav $W/unskewed.wav
  check "--clock-skew-ppm: ratio, queue error, breaks and splices printed ($stream)" printed
done
render native --volume -100 $W/loud.wav $W/clipped.wav
check "1 s at x10 in 50 ms blocks: 20 clipped blocks" grep -qx 'clipped blocks: 20' $W/err.txt

# Status 1 with not a word is none of the renderer's (0, 2, 3) nor a crash's: Wine's loader gave
# it once in a run of the whole suite, with the same render passing 30 times in a row after. It
# gets one more try, said; a second is kept as a failure.
same_bytes() {  # build, input, options...: the build renders the input to native's bytes; else all is kept
  local args; args=$(expand $1 "${*:3}")
  render $1 $args $2 $DIR/$1.wav; local code=$?
  if [ $code = 1 ] && [ ! -s $W/err.txt ]; then
    echo "  Wine ended the $1 render with status 1 and no word; once more"
    render $1 $args $2 $DIR/$1.wav; code=$?
  fi
  cp $W/err.txt $DIR/$1.err
  [ $NATIVE_CODE = 0 ] && [ $code = 0 ] && cmp -s $DIR/{native,$1}.wav && return 0
  KEEP=1 && echo "  noise seed $SEED, exit codes native=$NATIVE_CODE $1=$code, options ${*:3}: kept in $DIR" |
    tee -a $DIR/case.txt; return 1
}
for opts in "" "--pitch -200 --volume -100 --buffer-ms 10" "--pitch 200 --volume 50 --buffer-ms 20" \
            "--pitch 37 --volume -30 --buffer-ms 13" "--pitch -77 --buffer-ms 1000 --no-fade" \
            "--plugin @P/copy_through.@X" "--plugin @P/copy_through.@X --buffer-ms 1000 --no-fade" \
            "--plugin @P/hostile.@X" "--plugin @P/hostile.@X --buffer-ms 13" \
            "--clock-skew-ppm -1000 --pitch 37 --buffer-ms 10"; do
  for input in tone noise; do
    DIR=$W/same-$((++CASE)) KEEP=0 && mkdir -p $DIR && cp $W/$input.wav $DIR/
    render native $(expand native "$opts") $W/$input.wav $DIR/native.wav; NATIVE_CODE=$?; cp $W/err.txt $DIR/native.err
    each_build "win32 win64" "native's bytes: $input ${opts:-defaults}" same_bytes $W/$input.wav $opts
    [ $KEEP = 1 ] || rm -r $DIR
  done
done

# An effect's output is the output: one that copies gives the input back within a step, in
# every 574-frame block and the shorter last one, whatever the pitch (the stage is bypassed).
render native --no-fade --buffer-ms 13 --pitch 200 --plugin $W/plugins/native/copy_through.so $T $O
sox -m -v 1 $T -v -1 $O $W/difference.wav && analyze level $W/difference.wav
check "through an effect that copies: the input comes back" within "$(field "$AOUT" peak)" 0 0.0001

# OUT that is not a plain file: a link's target is replaced and the link stays; a pipe and a
# device are written into, never replaced.
through_link() {
  echo old > $W/target.wav && ln -sfn target.wav $W/link.wav && render native $T $W/link.wav &&
    [ -L $W/link.wav ] && cmp -s $W/target.wav $W/plain.wav && [ ! -e $W/target.wav.partial ]
}
check "OUT a symbolic link: its target gets the sound, the link stays" through_link
through_pipe() {
  rm -f $W/fifo && mkfifo $W/fifo && { timeout 20 cat $W/fifo > $W/from-fifo.wav & } &&
    render native $T $W/fifo && wait && [ -p $W/fifo ] && cmp -s $W/from-fifo.wav $W/plain.wav
}
check "OUT a pipe: the sound goes through it, the pipe stays" through_pipe
check "OUT /dev/null: written into, still a device" eval 'render native $T /dev/null && [ -c /dev/null ]'

# --stats: what the monitor shows, for the whole render. A -6 dBFS tone reads -6 at its peak and
# 3 dB less as RMS, in and out; silence reads the floor; ten times the volume clips at 0 dBFS
# (its RMS near the peak, a clipped sine being almost a square);
# an effect that takes half of each block's time reads about half.
sox -n -r 44100 -b 16 -c 2 -e signed $W/six.wav synth 2 sine 450 gain -6.02
sox -D -n -r 44100 -b 16 -c 2 -e signed $W/silence.wav trim 0 1  # no dither: zeros
stat_of() { sed -n "s/^$1: .*$2 \([-0-9.]*\) \([-0-9.]*\).*/\1 \2/p" $W/err.txt; }  # line, what
both_within() { local a b; read -r a b <<< "$1"; within "$a" "$2" "$3" && within "$b" "$2" "$3"; }
stats_read() {  # build, level, peak low, high, rms low, high, render args...
  render $1 --stats --no-fade "${@:7}" $O && both_within "$(stat_of $2 'peak')" $3 $4 &&
    both_within "$(stat_of $2 'rms')" $5 $6 || { echo "  $1: $(grep -E '^(input|output)' $W/err.txt | tr '\n' ' ')"; false; }
}
each_build "native win64" "--stats: a -6 dBFS tone reads -6 dBFS at its peak, -9 as RMS, at the output" \
  stats_read output -6.5 -5.5 -9.5 -8.5 $W/six.wav
check "--stats: silence reads the floor (native)" stats_read native input -120 -120 -120 -120 $W/silence.wav
check "--stats: ten times the volume clips at 0 dBFS, almost a square (native)" \
  stats_read native output -0.1 0 -1 0 --volume -100 $W/six.wav
half_share() {  # build
  render $1 --stats --buffer-ms 20 $(expand $1 "--plugin @P/half_blocks.@X") $T $O &&
    within "$(sed -n 's/^effect 1: \([0-9.]*\) %.*/\1/p' $W/err.txt)" 45 60 ||
    { echo "  $1: $(grep '^effect' $W/err.txt)"; false; }
}
each_build "native win64" "--stats: an effect that takes half of each block reads 45-60 % of it" half_share
# The monitor's drift figure follows the corrector: through a skew of +-200 ppm, the skew
# --stats reads of the queue (0 until the corrector acts, within 20 s) is the final ratio the
# skew prints, near the skew, and the correction it resamples by stays within +-1000 ppm.
sox -n -r 44100 -b 16 -c 2 -e signed $W/long.wav synth 30 sine 450 gain -8  # the corrector has acted
drift_read() {  # ppm
  render native --stats --clock-skew-ppm $1 $W/long.wav $O || return 1
  local final shown applied
  final=$(sed -n 's/^clock skew .*final ratio \([-+0-9.]*\) ppm.*/\1/p' $W/err.txt)
  shown=$(sed -n 's/^queue: clock skew \([-+0-9.]*\) ppm.*/\1/p' $W/err.txt)
  applied=$(sed -n 's/^queue: .*correction \([-+0-9.]*\) ppm.*/\1/p' $W/err.txt)
  [ -n "$final" ] && [ "$final" = "$shown" ] && within "$final" "$(calc "$1 - 50")" "$(calc "$1 + 50")" &&
    within "$applied" -1000 1000 ||
    { echo "  $1 ppm: $(grep -E '^(clock skew|queue)' $W/err.txt | tr '\n' ' ')"; false; }
}
for ppm in 200 -200; do check "--stats: the queue's clock skew at $ppm ppm is the skew's final ratio" drift_read $ppm; done
