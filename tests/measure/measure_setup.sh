#!/usr/bin/env bash
# What ./test and ./run cost a new contributor, for docs/PERFORMANCE.md: the installed size of
# the packages scripts/install-deps.sh asks for and of everything they pull in, and the space the
# builds and the Wine prefixes of the test lanes take under build/. With --clean-clone, also
# the time of ./test (as CI runs it) on a fresh clone of this checkout, in a temporary folder.
set -u
cd "$(dirname "$0")/../.."
packages=$(sed -n '/^PACKAGES=(/,/^)/p' scripts/install-deps.sh | sed '1d;$d' | xargs)
# shellcheck disable=SC2086
closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances $packages 2>/dev/null | grep -v '^ ' | grep -v '^<' | sort -u)
kib=0
for p in $closure; do
  for s in $(dpkg-query -W -f='${Installed-Size}\n' "$p" 2>/dev/null); do kib=$((kib + s)); done
done
echo "packages: $(wc -w <<< "$closure") in the closure, $((kib / 1024)) MiB installed"
for tree in win32 win64 native native-asan fuzz; do
  [ -d "build/$tree" ] && echo "build/$tree: $(du -sh "build/$tree" | cut -f1)"
done
for prefix in build/testenv build/testenv-b build/testenv-c; do
  [ -d "$prefix" ] && echo "$prefix (a lane's Wine prefix, display and sound server): $(du -sh "$prefix" | cut -f1)"
done
if [ "${1:-}" = --clean-clone ]; then
  clone=$(mktemp -d)
  git clone -q . "$clone/kawauso" && cd "$clone/kawauso" || exit 1
  start=$(date +%s)
  CI=true ./test | tail -n1
  echo "./test on a clean clone: $(($(date +%s) - start)) s; build/ then $(du -sh build | cut -f1)"
  cd / && rm -rf "$clone"
fi
