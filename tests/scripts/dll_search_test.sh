#!/usr/bin/env bash
# The program run as a new user runs a download: from a folder that holds a winmm.dll of
# someone else's, started from another that holds one too, with Windows' search order for a
# DLL that is not a known one (WINEDLLOVERRIDES="winmm=n,b"). Neither is loaded (each would
# leave a mark beside itself), and the program lists its devices and streams a tone. The
# import tables and the address-space flags of both builds are read too.
source "$(dirname "$0")/lib.sh"
e2e_environment
export WINEDLLOVERRIDES="winmm=n,b"
HIJACK="$ROOT/$PROGRAM_TREE/tests/hijack"
marked() { ls "$1" | grep -qi '^winmm\.dll\.loaded$'; }  # folder: the loader may name it WINMM.DLL

mkdir -p "$W/probe" && cp "$HIJACK/winmm.dll" "$HIJACK/winmm_importer.exe" "$W/probe/"
(cd "$W/probe" && wine ./winmm_importer.exe > /dev/null 2>&1)
check "the marker works: a plain import of WINMM takes the winmm.dll beside the program" \
  marked "$W/probe"

feed_tone 450 60 -12
new_instance hijack "[Settings00]" "BufferSize=20" "WaveInCapsName=Monitor of TestMic" \
  "WaveOutCapsName=TestSpeaker"
mkdir -p "$W/elsewhere" && cp "$HIJACK/winmm.dll" "$PROGRAM_DIR/" && cp "$HIJACK/winmm.dll" "$W/elsewhere/"
(cd "$W/elsewhere" && exec wine "$PROGRAM_DIR/Kawauso04.exe" > "$PROGRAM_DIR/program.log" 2>&1) &
PROGRAM_PID=$!
check "started there: the window and its devices" eval \
  'drive wait 30000 && says "Monitor of TestMic" text $IDC_WAVEIN'
tone_through() {
  drive click $ID_START && sleep 3 && record_start spk "$W/tone.raw" && sleep 1 && record_stop &&
    analyze level "$W/tone.raw" && within "$(field "$AOUT" rms)" 0.1 1 || { echo "  $AOUT"; false; }
}
check "the tone streams" tone_through
check "neither winmm.dll was loaded" eval \
  '! marked "$PROGRAM_DIR" && ! marked "$W/elsewhere"'
close_program

# Known DLLs only (the system takes those from its own folder whatever the search), and the
# common controls, which the manifest takes from the side-by-side store.
KNOWN="advapi32 comdlg32 gdi32 kernel32 msvcrt ole32 oleaut32 shell32 user32 comctl32"
imports_known() {  # exe
  local bad; bad=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p' |
    tr 'A-Z' 'a-z' | grep -vxE "(${KNOWN// /|})\.dll" | xargs)
  [ -z "$bad" ] || { echo "  $1 imports $bad"; false; }
}
flags() { x86_64-w64-mingw32-objdump -p "$1" | sed -n '/^DllCharacteristics/,/^SizeOf/p' | xargs; }
for tree in "$WIN32_TREE" "$WIN64_TREE"; do
  for exe in Kawauso04.exe kawauso-render.exe; do
    check "$tree/$exe imports only known DLLs" imports_known "$tree/$exe"
    check "$tree/$exe: address-space randomisation, no execution from data" eval \
      '[[ "$(flags "$tree/$exe")" == *DYNAMIC_BASE*NX_COMPAT* ]]'
  done
done
check "the 64-bit build randomises over the whole address space" eval \
  '[[ "$(flags "$WIN64_TREE/Kawauso04.exe")" == *HIGH_ENTROPY_VA* ]]'
check "the 32-bit build keeps the relocations randomisation needs" eval \
  'x86_64-w64-mingw32-objdump -h "$WIN32_TREE/Kawauso04.exe" | grep -q "\.reloc"'
