#!/usr/bin/env bash
# A Visual Studio build links the C and C++ runtimes statically (/MT, /MTd): configured here for
# clang-cl, the compiler driver that takes MSVC's options (no Windows SDK is needed to configure),
# every compile line of every configuration names the static runtime and none the DLL one.
source "$(dirname "$0")/lib.sh"
CLANG_CL=$(command -v clang-cl clang-cl-14 | head -n1)
LLVM_LIB=$(command -v llvm-lib llvm-lib-14 | head -n1)
LLVM_RC=$(command -v llvm-rc llvm-rc-14 | head -n1)

static_runtime() {  # configuration, expected flag
  local tree="$W/$1"
  cmake -S "$ROOT" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE="$1" -DCMAKE_SYSTEM_NAME=Windows \
    -DCMAKE_C_COMPILER="$CLANG_CL" -DCMAKE_CXX_COMPILER="$CLANG_CL" -DCMAKE_AR="$LLVM_LIB" \
    -DCMAKE_RC_COMPILER="$LLVM_RC" -DCMAKE_MT=/bin/true -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
    -DKAWAUSO_TESTS=OFF > "$W/$1.log" 2>&1 || { tail -n 5 "$W/$1.log"; return 1; }
  local flags; flags=$(grep '^  FLAGS = /' "$tree/build.ninja")  # C and C++, not resources
  local total static dynamic
  total=$(wc -l <<< "$flags")
  static=$(grep -c -- " -$2\b" <<< "$flags")
  dynamic=$(grep -c -- ' -MDd\?\b' <<< "$flags")
  [ "$total" -gt 20 ] && [ "$static" = "$total" ] && [ "$dynamic" = 0 ] ||
    { echo "  $1: $total compile lines, $static with -$2, $dynamic with a DLL runtime"; return 1; }
}
check "clang-cl is there to configure with" test -n "$CLANG_CL"
check "Release: every compile line links the static runtime (-MT)" static_runtime Release MT
check "Debug: every compile line links the static debug runtime (-MTd)" static_runtime Debug MTd
