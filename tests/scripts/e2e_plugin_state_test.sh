#!/usr/bin/env bash
# The plug-in a slot keeps across runs of the real program: closed with an effect loaded, the
# next start loads it again with the state it was left in (the effect logs what it receives),
# its editor only if it was open; a refused state leaves the defaults; a load that
# took the program down is not tried again.
source "$(dirname "$0")/lib.sh"
e2e_environment

# A folder with the program and a copy of the effect (its log its own), the slot naming it.
instance() {  # name, variant, more settings lines...
  local dll; dll="$(winpath "$W/$1")\\$2.dll"
  new_instance "$1" "[Settings00]" "VstPath=$dll" "${@:3}"
  cp "$PROGRAM_TREE/tests/plugins/$2.dll" "$PROGRAM_DIR/" && : > "$PROGRAM_DIR/$2.dll.log"
}
log_of() { tr -d '\r' < "$PROGRAM_DIR/$1.dll.log"; }
state_file() { echo "$PROGRAM_DIR/KaWUmi.Settings00.vststate"; }
# Started, shown, with the plug-in button reading as expected (the caption, set once the slot's
# effect has loaded, which with its editor takes a while under load), then closed.
run_once() {
  start_program && drive wait 30000 && eventually 15 says "$1" text $IDC_VST_LOAD ||
    { echo "  the window or its caption: '$OUT'"; return 1; }
  close_program || { echo "  the close: $(tail -n2 "$PROGRAM_DIR/program.log" | tr '\n' ' ')"; return 1; }
}
# Started again with the log emptied: the lines the effect logged on the way.
restart() { : > "$PROGRAM_DIR/$1.dll.log" && run_once "$2"; }  # variant, expected caption

# Loaded by the user (the file dialog keeps the slot's path), then closed: the slot keeps it.
instance chunk chunk_state
start_program && drive wait 30000
drive press $IDC_VST_LOAD; drive dismiss "VST プラグインを開く"
check "closed with an effect loaded: the slot keeps it, on, its state beside the settings" eval \
  'close_program && ini | grep -qx "VstActive=1" && ! ini | grep -q VstEditorOpen &&
   [ -s "$(state_file)" ]'
check "the next start loads it and gives its chunk back" eval \
  'restart chunk_state "VST開放" && { log_of chunk_state | grep -qx "chunk received chunk-state-as-left" ||
     { echo "  its log: $(log_of chunk_state | tr "\n" "|")"; false; }; }'
cp "$(state_file)" "$W/chunk.vststate"
sox -n -r 44100 -b 16 -c 2 -e signed "$W/tone.wav" synth 0.2 sine 450
check "the renderer gives the effect the state the program kept, from the program's own file" eval \
  ': > "$PROGRAM_DIR/chunk_state.dll.log" && wine "$PROGRAM_TREE/kawauso-render.exe" --plugin \
   "$PROGRAM_DIR/chunk_state.dll" --plugin-state "$W/chunk.vststate" "$W/tone.wav" "$W/out.wav" \
   > "$W/render.out" 2>&1 && log_of chunk_state | grep -qx "chunk received chunk-state-as-left"'

# An editor that was open. (Parameters instead of a chunk take the same way through the file:
# which one an effect gets is the core tier's.)
instance editor editor VstActive=1 VstEditorOpen=1
check "an editor open at the close opens again" eval \
  'run_once "VST開放" && log_of editor | grep -q "opcode=14 " && ini | grep -qx VstEditorOpen=1'
instance editor editor VstActive=1
check "an editor closed at the close stays closed" eval \
  'run_once "VST開放" && ! log_of editor | grep -q "opcode=14 "'

# A refused state (which ones are, the core tests'): the effect loads with its defaults.
PROGRAM_DIR="$W/chunk"
check "a state cut short: the effect loads with its defaults" eval \
  'head -c -1 "$W/chunk.vststate" > "$(state_file)" && restart chunk_state "VST開放" &&
   ! log_of chunk_state | grep -q "chunk received"'

# Unloaded before the close: the slot keeps its path but loads nothing next time.
check "closed after an unload: nothing kept, the path stays" eval \
  'start_program && drive wait 30000 && drive click $IDC_VST_LOAD && close_program &&
   ! ini | grep -q "^Vst[AE]" && ini | grep -q "^VstPath=.*chunk_state.dll" && [ ! -e "$(state_file)" ] &&
   run_once "VST読込(&R)"'

# An effect that ends the process while it opens.
instance exits exit_open VstActive=1
start_program
check "an effect that takes the program down at start: the program ends" eval \
  'eventually 30 eval "! kill -0 $PROGRAM_PID 2>/dev/null" && log_of exit_open | grep -qx exit'
PROGRAM_PID=""
check "the next start leaves it out and says so once" eval \
  ': > "$PROGRAM_DIR/exit_open.dll.log" && start_program && drive wait 30000 && eventually 15 says "VST読込(&R)" text $IDC_VST_LOAD &&
   eventually 5 says 1 balloon && close_program && ! ini | grep -q "^Vst[AE]" &&
   [ ! -e "$PROGRAM_DIR/KaWUmi.Settings00.vstloading" ] && [ "$(log_of exit_open)" = "" ]'

# A chain of the slot's: closed with it loaded, the slot keeps its second effect and that one's
# state in a file of its position, and the next start loads both, each given its own state.
instance chain chunk_state VstActive=1 "VstPath2=$(winpath "$W/chain")\\chunk_counter.dll"
cp "$PROGRAM_TREE/tests/plugins/chunk_counter.dll" "$PROGRAM_DIR/" && : > "$PROGRAM_DIR/chunk_counter.dll.log"
check "a chain closed loaded: the slot keeps its second effect and that one's state" eval \
  'run_once "VST開放" && ini | grep -q "^VstPath2=.*chunk_counter.dll" &&
   [ -s "$PROGRAM_DIR/KaWUmi.Settings00-2.vststate" ] && [ -s "$(state_file)" ]'
check "the next start loads the chain again, each effect with its own state" eval \
  ': > "$PROGRAM_DIR/chunk_state.dll.log" && restart chunk_counter "VST開放" &&
   log_of chunk_counter | grep -q "^chunk received blocks=" &&
   log_of chunk_state | grep -qx "chunk received chunk-state-as-left"'
