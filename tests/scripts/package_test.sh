#!/usr/bin/env bash
# The release package: `cmake --build <tree> --target package` makes
# Kawauso04-<version>-<arch>.zip holding the program, the offline renderer, both plug-in host
# programs, the user's README, the licence and the changelog in one folder, all of one version,
# and what is unpacked from it runs on its own under Wine, effects of the other bitness too.
source "$(dirname "$0")/lib.sh"
e2e_environment
VERSION=$(sed -n 's/^project(Kawauso04 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

pe_machine() { od -An -tx2 -j $(($(od -An -tu4 -j 60 -N 4 "$1") + 4)) -N 2 "$1" | tr -d ' '; }

for arch in win32 win64; do
  tree=$WIN32_TREE machine=014c other=8664 other_host=kawauso-fxhost64.exe other_tree=$WIN64_TREE
  [ $arch = win64 ] && tree=$WIN64_TREE machine=8664 other=014c other_host=kawauso-fxhost32.exe other_tree=$WIN32_TREE
  folder="Kawauso04-$VERSION-$arch" && unpacked="$W/$arch/Kawauso04-$VERSION-$arch"
  rm -f "$tree/$folder.zip"
  # Configured again first: a tree configured before the package rules knows no package target.
  { cmake -S . -B "$tree" && cmake --build "$tree" --target package; } > "$W/package-$arch.log" 2>&1
  check "$arch: the package target makes $folder.zip with the program, the renderer, both hosts, README.txt, LICENSE.txt and CHANGELOG.txt" \
    eval '[ "$(unzip -Z1 "$tree/$folder.zip" | grep -v "/$" | LC_ALL=C sort | xargs)" = "$folder/CHANGELOG.txt $folder/Kawauso04.exe $folder/LICENSE.txt $folder/README.txt $folder/kawauso-fxhost.exe $folder/$other_host $folder/kawauso-render.exe" ]'
  unzip -q "$tree/$folder.zip" -d "$W/$arch"
  check "$arch: the executables are $arch programs, $other_host the other bitness's" eval \
    '[ "$(pe_machine "$unpacked/Kawauso04.exe") $(pe_machine "$unpacked/kawauso-render.exe") $(pe_machine "$unpacked/kawauso-fxhost.exe") $(pe_machine "$unpacked/$other_host")" = "$machine $machine $machine $other" ]'
  check "$arch: README.txt is the user's guide" cmp docs/README-user.txt "$unpacked/README.txt"
  check "$arch: the licence and the changelog are the repository's" eval \
    'cmp LICENSE "$unpacked/LICENSE.txt" && cmp CHANGELOG.md "$unpacked/CHANGELOG.txt"'
  # The About box and the file version show one macro made from project(); the guide and the
  # changelog are written by hand, so they are the ones that can fall behind.
  check "$arch: the zip's name, the file version, the guide and the changelog all say $VERSION" eval \
    '[ "$(strings -el "$unpacked/Kawauso04.exe" | grep -A1 -x FileVersion | tail -1)" = "$VERSION" ] &&
     [ "$(head -1 "$unpacked/README.txt")" = "Kawauso04 $VERSION" ] &&
     grep -q "^## $VERSION\$" "$unpacked/CHANGELOG.txt"'
  # Started in the tray and ended from there, it writes its settings beside itself.
  PROGRAM_DIR=$unpacked
  needs $arch "$arch: the unpacked program runs and saves its settings beside itself" eval \
    'start_program -t && drive wait 30000 && says 1 tray && close_program && [ -s "$unpacked/KaWUmi.ini" ]'
  sox -n -r 44100 -b 16 -c 2 -e signed "$W/tone.wav" synth 0.5 sine 450
  mkdir -p "$W/plugins-$arch" && cp "$other_tree/tests/plugins/copy_through.dll" "$W/plugins-$arch/"
  needs win32 "$arch: the unpacked renderer renders through an effect of the other bitness" \
    wine "$unpacked/kawauso-render.exe" --plugin "$W/plugins-$arch/copy_through.dll" "$W/tone.wav" "$W/out-$arch.wav"
done
