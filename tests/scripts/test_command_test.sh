#!/usr/bin/env bash
# ./test itself, with suite names: it runs those suites only and still ends with its one line;
# a name it does not know is a failure that lists the suites there are.
source "$(dirname "$0")/lib.sh"
./test native > "$W/native.txt" 2>&1; status=$?
check "./test native: the native suites only, then the closing line" eval \
  '[ $status = 0 ] && tail -n1 "$W/native.txt" | grep -Eqx "[1-9][0-9]* passed, 0 failed" &&
   grep -q "^  native (" "$W/native.txt" && ! grep -Eq "^  (win32|e2e|fuzz)" "$W/native.txt"'
./test native nosuch > "$W/unknown.txt" 2>&1; status=$?
check "./test with an unknown name: refused, the suites listed, 1 failed" eval \
  '[ $status != 0 ] && grep -q "unknown suite nosuch; suites: native fuzz win32 win64" "$W/unknown.txt" &&
   tail -n1 "$W/unknown.txt" | grep -qx "0 passed, 1 failed"'
