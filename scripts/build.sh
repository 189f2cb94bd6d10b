#!/usr/bin/env bash
# Configures (once) and builds the build trees: native (plain, for the renderer and the
# benchmarks), native-asan (the tests under AddressSanitizer and UBSan), win32 (the product),
# win64, and fuzz (the libFuzzer targets, by clang). Exits non-zero when any of them fails to
# build.
set -u
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"
status=0

configure() {  # dir, cmake args...
  local dir="$1"; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" > "$dir.configure.log" 2>&1 ||
      { cat "$dir.configure.log"; return 1; }
  fi
}

build() {  # dir, cmake args...
  local dir="$1"
  mkdir -p build
  if configure "$@" && cmake --build "$dir" -j "$JOBS" > "$dir.build.log" 2>&1; then
    echo "built $dir"
  else
    grep -E 'error|Error' -A4 "$dir.build.log" | head -60
    echo "BUILD FAILED: $dir (log: $dir.build.log)"
    status=1
  fi
}

build build/native
build build/native-asan -DKAWAUSO_SANITIZE=ON
build build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
build build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
build build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKAWAUSO_FUZZ=ON
exit $status
