# Helpers for the script suites: each check prints "PASS: name" or "FAIL: name".
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK="$ROOT/build/results/$(basename "${0%.sh}")"
rm -rf "$WORK"
mkdir -p "$WORK"

check() {  # name, command...
  local name="$1"; shift
  if "$@"; then echo "PASS: $name"; else echo "FAIL: $name"; fi
}
