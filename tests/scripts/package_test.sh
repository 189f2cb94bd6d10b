#!/usr/bin/env bash
# The release package: `cmake --build build/<arch> --target package` makes
# Kawauso04-<version>-<arch>.zip holding the program, the offline renderer and the user's
# README in one folder, and the program unpacked from it runs on its own under Wine.
source "$(dirname "$0")/lib.sh"
cd "$ROOT"
source tests/scripts/e2e_lib.sh
e2e_environment

VERSION=$(sed -n 's/^project(Kawauso04 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# The machine field of a PE file: 014c for 32-bit x86, 8664 for x86-64.
pe_machine() {  # file
  local offset
  offset=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -tx2 -j $((offset + 4)) -N 2 "$1" | tr -d ' '
}

zip_lists_exactly() {  # zip, folder
  local listed expected
  listed=$(unzip -Z1 "$1" | grep -v '/$' | sort)
  expected=$(printf '%s\n' "$2/Kawauso04.exe" "$2/README.txt" "$2/kawauso-render.exe" | sort)
  [ "$listed" = "$expected" ] && return 0
  echo "  $1 holds: $(echo $listed)"
  return 1
}

readme_covers_both_languages() {  # readme
  grep -q "KaWUmi.ini" "$1" && grep -q -- "-pN" "$1" && grep -q -- "-t " "$1" &&
    grep -q "設定ファイル" "$1" && grep -q "The settings file" "$1" &&
    grep -q "コマンドラインオプション" "$1" && grep -q "Command-line options" "$1"
}

# The unpacked program starts (in the tray, so nothing shows), and EXIT writes its
# settings file beside it: the package needs nothing that is not in it.
unpacked_program_runs() {  # folder
  PROGRAM_DIR="$1"
  start_program -t
  drive wait-main 30000 && drive_says 1 tray-icon && drive tray-menu exit && wait_program_exit 15 &&
    [ -s "$1/KaWUmi.ini" ]
}

for arch in win32 win64; do
  folder="Kawauso04-$VERSION-$arch"
  zip="build/$arch/$folder.zip"
  rm -f "$zip"
  # Configured again first: a tree configured before the package rules existed knows no
  # package target yet.
  { cmake -S . -B "build/$arch" && cmake --build "build/$arch" --target package; } > "$W/package-$arch.log" 2>&1
  check "$arch: the package target makes $folder.zip" test -s "$zip"
  check "$arch: the zip holds the program, the renderer and README.txt in $folder/" \
    zip_lists_exactly "$zip" "$folder"
  rm -rf "$W/$arch"
  mkdir -p "$W/$arch"
  unzip -q "$zip" -d "$W/$arch"
  expected_machine=014c
  [ "$arch" = win64 ] && expected_machine=8664
  check "$arch: both executables are $arch programs" \
    eval '[ "$(pe_machine "$W/$arch/$folder/Kawauso04.exe")" = $expected_machine ] && [ "$(pe_machine "$W/$arch/$folder/kawauso-render.exe")" = $expected_machine ]'
  check "$arch: the README tells both in Japanese and English of KaWUmi.ini, -pN and -t" \
    readme_covers_both_languages "$W/$arch/$folder/README.txt"
  check "$arch: the unpacked program runs and saves its settings beside itself" \
    unpacked_program_runs "$W/$arch/$folder"
  check "$arch: the unpacked renderer runs" \
    eval 'wine "$W/$arch/$folder/kawauso-render.exe" --help > "$W/render-help.txt" 2>&1 && grep -q -- --buffer-ms "$W/render-help.txt"'
done
