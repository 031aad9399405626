#!/bin/bash
# Builds and tests everything, on a fresh Debian 12 machine as root:
#   asan     native debug build, warnings as errors, AddressSanitizer and
#            UndefinedBehaviorSanitizer, the benchmarks built, and the share
#            rig (the tool on GlusterFS, bindfs and Samba shares)
#   tsan     ThreadSanitizer
#   windows  MinGW-w64 cross build, every test run under Wine; the .zip
#   package  release build of the .deb: its fields, files and manual page, and
#            an install into a fresh Debian 12 root (debootstrap, the first
#            time about 75 s; the root is kept in build/package/fresh-base)
# Installs what is missing first.  Every part runs even when an earlier one
# failed; the exit status is 0 only when all of them built and passed.  The
# dev preset is left out: asan builds the same code with the same warnings.
# Usage (from anywhere): bash scripts/test-all.sh [preset...]
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(asan tsan windows package)
logs="$root/build/test-all"
mkdir -p "$logs"

say() { printf '\n=== %s\n' "$*"; }

# --- Packages ---------------------------------------------------------------
packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3
  g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 wine64 wine locales strace time
  dpkg-dev file groff-base man-db debootstrap
  glusterfs-server glusterfs-client bindfs fuse3 iproute2
  samba smbclient smbnetfs python3-impacket)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q </dev/null || exit 1
  # No package may start its service (glusterd, smbd): the share rig starts
  # its own, in namespaces of its own.
  own_policy=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d && own_policy=1
  fi
  apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
  installed=$?
  [ $own_policy -eq 1 ] && rm -f /usr/sbin/policy-rc.d
  [ $installed -eq 0 ] || exit 1
fi
# The Japanese catalogue is checked under a Japanese locale.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 || exit 1
fi

# --- Wine: a prefix of our own, its server kept warm for the run ------------
export HOME="${HOME:-/root}"  # Wine wants one; CI may start us without it
export WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="$root/build/wine"
unset DISPLAY
wine_started=0
start_wine() {
  [ $wine_started -eq 1 ] && return 0
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "creating the Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
  fi
  # A server that is already running (wineboot's, for one) ignores -p:
  # replace it by a persistent one, or every test starts Wine cold (1 s).
  wineserver -k 2>/dev/null
  wineserver -w
  local i
  for i in 1 2 3 4 5; do
    wineserver -p 300 </dev/null && break
    sleep 1
  done
  wine_started=1
}
stop_wine() {
  # The server of this prefix only (WINEPREFIX above).
  [ $wine_started -eq 1 ] && wineserver -k 2>/dev/null
  return 0
}
trap stop_wine EXIT

# --- Configure, build, test ------------------------------------------------
declare -A outcome seconds
run_preset() {
  local p=$1
  say "$p: configure"
  cmake --preset "$p" </dev/null || { outcome[$p]="configure FAILED"; return 1; }
  say "$p: build"
  # -k 0: build all that can be built, so the tests of the other modules
  # still run and show their state.
  local built=1
  cmake --build --preset "$p" -- -k 0 </dev/null || built=0
  [ "$p" = windows ] && start_wine
  say "$p: test"
  ctest --preset "$p" </dev/null 2>&1 | tee "$logs/$p.log"
  local rc=${PIPESTATUS[0]}
  if [ $built -eq 0 ]; then
    outcome[$p]="build FAILED"
    return 1
  fi
  [ "$rc" -eq 0 ] && outcome[$p]="passed" || outcome[$p]="tests FAILED"
  return "$rc"
}

status=0
all_start=$(date +%s)
for p in "${presets[@]}"; do
  rm -f "$logs/$p.log"
  start=$(date +%s)
  run_preset "$p" || status=1
  seconds[$p]=$(($(date +%s) - start))
done

# --- Summary: ctest's closing lines of every part ---------------------------
passed=0
failed=0
say "summary"
for p in "${presets[@]}"; do
  printf '\n--- %s: %s (%d s)\n' "$p" "${outcome[$p]}" "${seconds[$p]}"
  counted=0
  if [ -f "$logs/$p.log" ] && grep -q 'tests passed, ' "$logs/$p.log"; then
    counted=1
    sed -n '/tests passed, /,$p' "$logs/$p.log"
    # Why a test skipped (it prints the reason on a line of its own).
    grep -h '^SKIPPED: ' "$root/build/$p/Testing/Temporary/LastTest.log" 2>/dev/null
    line=$(grep 'tests passed, ' "$logs/$p.log" | tail -1)
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    n=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + n - f))
    failed=$((failed + f))
  fi
  # A part that did not configure or build, or whose ctest counted nothing,
  # is one failure more.
  if [ "${outcome[$p]}" != passed ] && { [ $counted -eq 0 ] || [ "${outcome[$p]}" != "tests FAILED" ]; }; then
    failed=$((failed + 1))
  fi
done
printf '\nwall time %d s\n' $(($(date +%s) - all_start))
printf 'Total: %d passed, %d failed\n' "$passed" "$failed"
exit $status
