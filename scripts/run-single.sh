#!/bin/bash
# The main job on a fresh Debian 12 machine, as root: builds the release
# preset's tool and runs the single environment check on two fresh temporary
# folders (-p one, -h the other), printing the report.  The folders are
# removed afterwards whatever happened.  The exit status is the tool's
# (0 when every test passed, 255 otherwise), or 1 when the build failed.
# Usage (from anywhere): bash scripts/run-single.sh [-t seconds] [-o logfile]
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1

# The release preset configures the tests too, so GoogleTest is needed.
packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q </dev/null || exit 1
  apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null || exit 1
fi

{ cmake --preset release && cmake --build --preset release --target zarntwchk; } </dev/null >&2 || exit 1

target=$(mktemp -d) || exit 1
share=$(mktemp -d) || { rmdir "$target"; exit 1; }
cleanup() {
  # The tool must leave nothing behind: say so when it did.
  local left
  left=$(find "$target" "$share" -mindepth 1 2>/dev/null)
  [ -z "$left" ] || printf 'files left behind:\n%s\n' "$left" >&2
  rm -rf "$target" "$share"
}
trap cleanup EXIT

"$root/build/release/zarntwchk" -m single -p "$target" -h "$share" "$@"
