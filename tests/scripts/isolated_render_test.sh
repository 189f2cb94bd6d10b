#!/usr/bin/env bash
# kawauso-render with the effect in a host process (kawauso-fxhost), native, win32 and win64:
# an effect that crashes, hangs or ends its process is exit 3 with its cause and its block,
# OUT untouched; a DLL of the other bitness renders through the other build's host, bit for
# bit as its own build renders it in-process; the host ends with its caller; a DLL that is no
# PE image is refused with the reason. (A kept state crosses as the core tier shows.)
source "$(dirname "$0")/lib.sh"
render() {  # build or folder/renderer, args...: exit status; stderr in $W/err.txt
  case "$1" in
    native) "$NATIVE_TREE/kawauso-render" "${@:2}" ;;
    win32|win64) wine "${TREE[$1]}/kawauso-render.exe" "${@:2}" ;;
    *) wine "$1" "${@:2}" ;;
  esac > /dev/null 2> "$W/err.txt"
}
effect() { local x=dll; [ $1 = native ] && x=so; echo "$W/plugins/$1/$2.$x"; }
# Copies of the test effects of our own: an effect logs beside itself, and the Windows tier,
# running beside this suite, listens to the build's own copies.
for build in native win32 win64; do mkdir -p "$W/plugins" && cp -r "${TREE[$build]}/tests/plugins" "$W/plugins/$build"; done
sox -n -r 44100 -b 16 -c 2 -e signed $W/tone.wav synth 2 sine 450 sine 300 gain -8
T=$W/tone.wav O=$W/out.wav

# build|effect|what stderr says (which faults the guard catches is the core tests')
FAULTS=(
  "native win32 win64|crash_process|the plug-in faulted (exception 0x%s) in block 3"
  "native win32 win64|hang_process|the plug-in's host process did not answer within 2000 ms in block 1"
  "native win32 win64|exit_open|the plug-in's host process exited with code 7 while loading"
  "native win32 win64|exit_process|the plug-in's host process exited with code 7 in block 3"
  "win32 win64|heap_lock_kept|the plug-in faulted (exception 0xC0000005) in block 1"
  "native win32 win64|grow_channels|the plug-in changed its number of inputs or outputs while loading"
  "native win32 win64|scribbler|the plug-in's host process broke the transport (it woke the caller again with no answer) in block 1")
faults() {  # build, effect, message
  local message=${3//%s/C0000005}
  echo "previous contents" > $O
  render $1 --isolated --plugin "$(effect $1 $2)" $T $O
  local code=$?
  [ $1 = native ] && message=${3//%s/0000000B}
  [ $code = 3 ] && grep -qF -- "$message" $W/err.txt && [ "$(cat $O)" = "previous contents" ] &&
    [ ! -e $O.partial ] || { echo "  $1: exit $code: $(head -n1 $W/err.txt)"; false; }
}
for row in "${FAULTS[@]}"; do
  IFS='|' read -r builds name message <<< "$row"
  each_build "$builds" "isolated, exit 3 with its cause: $name" faults "$name" "$message"
done

# One block ahead, as the live program runs an effect that cannot keep up: the in-process
# render one block (20 ms: 883 frames, as a buffer is always a frame more) later, bit for bit,
# the first block silent.
ahead() {  # build, effect
  local block=$((883 * 4)) bytes
  render $1 --buffer-ms 20 --no-fade --plugin "$(effect $1 $2)" $T $W/own.wav &&
    render $1 --buffer-ms 20 --no-fade --isolated --block-ahead --plugin "$(effect $1 $2)" $T \
      $W/ahead.wav || { echo "  $1: $(head -n1 $W/err.txt)"; return 1; }
  sox $W/own.wav -t raw $W/own.raw && sox $W/ahead.wav -t raw $W/ahead.raw
  bytes=$(stat -c %s $W/own.raw)
  { head -c $block /dev/zero; head -c $((bytes - block)) $W/own.raw; } > $W/later.raw
  cmp -s $W/later.raw $W/ahead.raw
}
for name in copy_through ch_1_2; do
  each_build "native win32 win64" "--block-ahead: $name as in-process, one block later" ahead $name
done

# As the zips hold them: each renderer with its own host and the other one's beside it.
for arch in win32 win64; do
  other=win64 name=kawauso-fxhost64.exe
  [ $arch = win64 ] && other=win32 name=kawauso-fxhost32.exe
  mkdir -p $W/$arch
  cp ${TREE[$arch]}/kawauso-render.exe ${TREE[$arch]}/kawauso-fxhost.exe $W/$arch/
  cp ${TREE[$other]}/kawauso-fxhost.exe $W/$arch/$name
done
other_bitness() {  # renderer's build, effect's build, effect
  render $2 --plugin "$(effect $2 $3)" $T $W/own.wav &&
    render $W/$1/kawauso-render.exe --plugin "$(effect $2 $3)" $T $W/other.wav &&
    cmp -s $W/own.wav $W/other.wav || { echo "  $(head -n1 $W/err.txt)"; return 1; }
}
for effect in copy_through hostile ch_1_2; do
  needs win32 "the 32-bit renderer through a 64-bit $effect: as in-process" other_bitness win32 win64 $effect
  needs win32 "the 64-bit renderer through a 32-bit $effect: as in-process" other_bitness win64 win32 $effect
done
missing_host() {
  render $WIN32_TREE/kawauso-render.exe --plugin "$(effect win64 copy_through)" $T $O
  [ $? = 3 ] && grep -qF "the plug-in's host process could not be started while loading" $W/err.txt
}
needs win32 "the 64-bit host missing: the 32-bit renderer says so, exit 3" missing_host
refused_for() {  # expected message, renderer's args...: exit 2 with it, or what came instead
  render "${@:2}"
  local status=$?
  [ $status = 2 ] && grep -qF "$1" $W/err.txt && return 0
  echo "  ${*:4:1}: exit $status, $(head -c 300 $W/err.txt | tr '\n' ' ')"
  return 1
}
not_pe() {  # build: a file that is no PE image, and one for another processor
  refused_for "cannot load the plug-in: it is not a Windows DLL (no PE header)" \
    $1 --plugin README.md $T $O || return 1
  cp "$(effect $1 copy_through)" $W/arm64.dll
  printf '\x64\xAA' | dd of=$W/arm64.dll bs=1 seek=$(($(od -An -tu4 -j 60 -N 4 $W/arm64.dll) + 4)) conv=notrunc 2>/dev/null
  refused_for "cannot load the plug-in: it is built for a processor other than x86 and x64" \
    $1 --plugin $W/arm64.dll $T $O
}
each_build "win32 win64" "refused unloaded: not a PE image, an ARM64 DLL" not_pe

# The caller killed while its effect hangs: the host process ends by itself.
our_host() {  # the host process started from this checkout (its folder is ours)
  local p
  for p in $(pgrep -f "kawauso-fxhost.* kawauso-fx-"); do
    [ "$(readlink /proc/$p/cwd)" = "$ROOT" ] && echo $p && return 0
  done
  return 1
}
host_gone_with_caller() {  # build
  local caller host run=("$NATIVE_TREE/kawauso-render")
  [ $1 = native ] || run=(wine "${TREE[$1]}/kawauso-render.exe")
  "${run[@]}" --isolated --buffer-ms 5000 --plugin "$(effect $1 hang_process)" $T $O 2>/dev/null &
  caller=$!
  eventually 10 our_host && host=$(our_host) && sleep 0.5 && kill -9 $caller &&
    eventually 5 eval '! kill -0 '"$host"' 2>/dev/null' || { echo "  $1: host $host, caller $caller"; return 1; }
  wait $caller 2>/dev/null
  return 0
}
each_build "native win32" "the host process ends with its caller" host_gone_with_caller

# Chains: the effects in order, the samples passing between them as floats. Each row renders
# as one copy does (gain_up and gain_down take the sound 24 dB beyond full scale and back:
# requantised between them it would clip).
CHAINS=(
  "eight in-process|copy_through copy_through copy_through copy_through copy_through copy_through copy_through copy_through"
  "eight, in-process and isolated by turns|copy_through copy_through:i copy_through ch_1_2:i copy_through copy_through:i copy_through copy_through:i"
  "eight isolated|copy_through:i copy_through:i copy_through:i copy_through:i copy_through:i copy_through:i copy_through:i copy_through:i"
  "above full scale between two isolated|gain_up:i gain_down:i"
  "above full scale from this process to a host process|gain_up gain_down:i"
  "above full scale from a host process to this one|gain_up:i ch_2_1:i gain_down"
  "above full scale between two in-process|gain_up gain_down")
chain_args() {  # build, links: --plugin (--isolated) for each
  local link
  for link in $2; do
    echo "--plugin $(effect $1 ${link%:i})"
    [[ $link == *:i ]] && echo --isolated
  done
}
chain() {  # build, links
  local expected=copy_through
  [[ $2 == *ch_1_2* ]] && expected=ch_1_2
  [[ $2 == *ch_2_1* ]] && expected=ch_2_1
  local status
  render $1 --plugin "$(effect $1 $expected)" $T $W/one.wav && render $1 $(chain_args $1 "$2") $T $W/chain.wav
  status=$? && [ $status = 0 ] && cmp -s $W/one.wav $W/chain.wav && return 0
  echo "  $1: exit $status; $(cmp $W/one.wav $W/chain.wav 2>&1 | head -n1); $(head -n1 $W/err.txt)"
  return 1
}
for row in "${CHAINS[@]}"; do
  IFS='|' read -r name links <<< "$row"
  each_build "native win32 win64" "chain, as one effect: $name" chain "$links"
done
# Nine refused before anything renders, exit 2; a fault names the effect it came from, exit 3.
chain_refused() {  # build
  render $1 $(chain_args $1 "$(printf 'copy_through:i %.0s' 1 2 3 4 5 6 7 8 9)") $T $O
  [ $? = 2 ] && grep -qF "at most 8 --plugin" $W/err.txt || return 1
  render $1 $(chain_args $1 "copy_through crash_process:i copy_through:i") $T $O
  [ $? = 3 ] && grep -qF "$(effect $1 crash_process): the plug-in faulted" $W/err.txt
}
each_build "native win64" "chain: nine refused; a fault names its effect" chain_refused
