#!/usr/bin/env bash
# Installs the Debian packages the builds and test suites need. Idempotent: when every
# package is already present it does not touch apt at all.
set -euo pipefail

PACKAGES=(
  cmake make g++ clang clang-tools libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64 libpulse0:i386 libasound2-plugins:i386 fonts-wine
  xvfb xauth x11-utils xdotool pulseaudio pulseaudio-utils
  fonts-ipafont-gothic imagemagick sox espeak-ng
  googletest libgtest-dev libbenchmark-dev python3 python3-numpy zip ninja-build
  dpf-plugins-vst zam-plugins
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
