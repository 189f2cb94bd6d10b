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

# The window side reaches the effect only through its handle: no object of app/ uses a symbol
# of this process's plug-in host (its globals and calls), whose objects are listed here.
host_symbols() {
  local dir="$ROOT/$WIN64_TREE/CMakeFiles/kawauso_core.dir"
  x86_64-w64-mingw32-nm -C --defined-only \
    "$dir"/plugin/{plugin_host,plugin_bridge,plugin_state,effect_dispatch,host_callback}.cpp.obj |
    awk '$2 ~ /[BDRT]/ { $1 = $2 = ""; print substr($0, 3) }' | sort -u
}
app_uses() {
  x86_64-w64-mingw32-nm -C -u "$ROOT/$WIN64_TREE"/CMakeFiles/kawauso_win32.dir/app/*.obj |
    awk '{ $1 = ""; print substr($0, 2) }' | sort -u
}
shared=$(comm -12 <(host_symbols) <(app_uses))
check "app/ uses nothing of the in-process plug-in host but through the effect handle" \
  test -z "$shared" -a -n "$(host_symbols)"
if [ -n "$shared" ]; then sed "s/^/  /" <<< "$shared"; fi
