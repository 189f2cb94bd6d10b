#!/usr/bin/env bash
# Configures (once) and builds, with Ninja, what each tree is for (all of them, or the trees
# named: scripts/build.sh win32 native):
#   build/win32   the product and everything tested under Wine (32-bit)
#   build/win64   the same, 64-bit
#   build/native  the renderer, the benchmarks, the test effects and the fault tests (signals
#                 are the sanitizers' own elsewhere), as released
#   build/native-asan  the core tests under AddressSanitizer and UBSan
#   build/fuzz    the libFuzzer targets (clang)
# Exits non-zero when any of them fails to build; each tree's log is build/NAME.build.log.
set -u
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"
status=0

WANTED=" $* "
build() {  # dir, "targets" (empty: all), cmake args...
  local dir="$1" targets="$2"; shift 2
  [ "$WANTED" = "  " ] || [[ "$WANTED" == *" ${dir#build/} "* ]] || return 0
  mkdir -p build
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" > "$dir.configure.log" 2>&1 ||
      { cat "$dir.configure.log"; status=1; return; }
  fi
  # shellcheck disable=SC2086
  if cmake --build "$dir" -j "$JOBS" ${targets:+--target $targets} > "$dir.build.log" 2>&1; then
    echo "built $dir"
  else
    grep -E 'error|Error' -A4 "$dir.build.log" | head -60
    echo "BUILD FAILED: $dir (log: $dir.build.log)"
    status=1
  fi
}

build build/win32 "" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
build build/win64 "" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
build build/native "kawauso-render kawauso-fxhost kawauso-bench kawauso-bridge-bench kawauso-tests test_plugins"
build build/native-asan "kawauso-tests kawauso-fxhost" -DKAWAUSO_SANITIZE=ON
build build/fuzz "" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKAWAUSO_FUZZ=ON
exit $status
