#!/usr/bin/env bash
# ./test itself, with suite names: it runs those suites only and still ends with its one line;
# a name it does not know is a failure that lists the suites there are.
source "$(dirname "$0")/lib.sh"
# layers: the quickest suite, so this one takes no processor time from the suites beside it
./test layers > "$W/layers.txt" 2>&1; status=$?
check "./test layers: that suite only, then the closing line" eval \
  '[ $status = 0 ] && tail -n1 "$W/layers.txt" | grep -Eqx "[1-9][0-9]* passed, 0 failed" &&
   grep -q "^  layers (" "$W/layers.txt" && ! grep -Eq "^  (native|win|e2e|fuzz)" "$W/layers.txt"'
./test layers nosuch > "$W/unknown.txt" 2>&1; status=$?
check "./test with an unknown name: refused, the suites listed, 1 failed" eval \
  '[ $status != 0 ] && grep -q "unknown suite nosuch; suites: native fuzz win32 win64" "$W/unknown.txt" &&
   tail -n1 "$W/unknown.txt" | grep -qx "0 passed, 1 failed"'
