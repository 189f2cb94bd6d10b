#!/usr/bin/env bash
# The layers: a folder includes nothing from the folders above it (platform/ < plugin/,
# audio/ < settings/ < app/), so each can be built and tested without the ones above.
source "$(dirname "$0")/lib.sh"
for layer in "platform plugin audio settings app" "plugin settings app" "audio settings app" \
  "settings app"; do
  set -- $layer  # a folder, then the folders above it
  found=$(grep -rEn "#include \"($(tr ' ' '|' <<< "${*:2}"))/" "$ROOT/$1" | sed "s|^$ROOT/||")
  check "$1/ includes nothing from ${*:2}" test -z "$found"
  if [ -n "$found" ]; then sed "s/^/  /" <<< "$found"; fi
done
