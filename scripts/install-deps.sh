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
# Where only the 32-bit packages are missing and a run within the hour found them uninstallable,
# do not ask apt again (a minute of retries) on every ./test and ./run: Wine's 64-bit loader
# serves meanwhile.
NO_I386_STAMP=/var/tmp/kawauso-i386-uninstallable
native=()  # the missing packages but the 32-bit ones
for p in "${missing[@]}"; do
  case "$p" in *:i386) ;; *) native+=("$p") ;; esac
done
if [ ${#native[@]} -eq 0 ] && [ -n "$(find "$NO_I386_STAMP" -mmin -60 2>/dev/null)" ]; then
  echo "the 32-bit packages were uninstallable within the hour: not asking apt again" >&2
  exit 0
fi

echo "installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync serves an index of the wrong size for a minute or two: apt-get update
# then fails on that one index. Try again after a pause; if it keeps failing, the indexes that
# did arrive may still hold every package, so the install has the last word.
for attempt in 1 2 3; do
  if $SUDO apt-get update -qq; then
    break
  fi
  if [ "$attempt" = 3 ]; then
    echo "apt-get update kept failing; installing from the indexes there are" >&2
  else
    sleep 15
  fi
done
if $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  exit 0
fi
# A stale i386 index (seen: a proxy serving the security suite's old i386 list for days) leaves
# the 32-bit packages unable to match their 64-bit twins. Without them Wine runs only its 64-bit
# loader, as on a machine that cannot run 32-bit processes: the suites then say what they skip.
if [ ${#native[@]} -eq ${#missing[@]} ]; then
  exit 1
fi
echo "the 32-bit packages cannot be installed from these indexes; installing the rest" >&2
touch "$NO_I386_STAMP"
if [ ${#native[@]} -ne 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${native[@]}" >/dev/null
fi
