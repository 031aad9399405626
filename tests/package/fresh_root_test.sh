#!/bin/bash
# Installs a .deb into a freshly made Debian 12 root as an administrator
# would (apt-get install ./file.deb), runs `zarntwchk` from PATH there on two
# fresh folders, and purges the package again.
#   fresh_root_test.sh PACKAGE.deb
# The bare root (debootstrap minbase, about 200 MB) is made once and kept:
# $FRESH_BASE when it names a finished one (../shared/tools/fresh_machine.sh
# keeps its own there), else $FRESH_BASE_CACHE (ctest sets the build folder),
# else /tmp/zarntwchk-fresh-base.  Each run works in a copy, so each starts
# bare.  Only /proc is mounted there (the root's /dev holds the device nodes
# that debootstrap made): a mount left by a killed run is harmless to rm.
# Needs root and debootstrap: exits 77 (skipped) with a message without them.
set -uo pipefail

deb=$(realpath "${1:?usage: fresh_root_test.sh PACKAGE.deb}") || exit 1
[ -f "$deb" ] || { echo "no package at $deb"; exit 1; }
[ "$(id -u)" = 0 ] ||
  { echo "skipped: a fresh root needs root (debootstrap, chroot, mount)"; exit 77; }

base=${FRESH_BASE:-}
[ -n "$base" ] && [ -f "$base/.done" ] || base=${FRESH_BASE_CACHE:-/tmp/zarntwchk-fresh-base}
if [ ! -f "$base/.done" ]; then
  command -v debootstrap >/dev/null ||
    { echo "skipped: debootstrap is not installed (apt-get install debootstrap)"; exit 77; }
  mirror=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  rm -rf --one-file-system "$base"
  echo "making the bare root $base (debootstrap, log in $base.log)"
  debootstrap --variant=minbase bookworm "$base" ${mirror:-http://deb.debian.org/debian} \
    >"$base.log" 2>&1 || { tail -5 "$base.log"; echo "debootstrap failed"; exit 1; }
  touch "$base/.done"
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/zarntwchk-fresh-XXXXXX") || exit 1
trap 'umount "$root/proc" 2>/dev/null; rm -rf --one-file-system "$root"' EXIT
cp -a "$base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null
name=$(basename "$deb")
install -D -m 644 "$deb" "$root/tmp/package/$name"

# What runs inside: every step says what it checks and fails loudly.
cat >"$root/tmp/package/steps.sh" <<STEPS
set -u
fail() { echo "FAILED: \$*"; exit 1; }
export DEBIAN_FRONTEND=noninteractive
cd /tmp/package || fail "cd /tmp/package"
apt-get install -y -q --no-install-recommends ./$name </dev/null >apt.log 2>&1 ||
  { cat apt.log; fail "apt-get install ./$name"; }
[ "\$(command -v zarntwchk)" = /usr/bin/zarntwchk ] || fail "zarntwchk is not /usr/bin/zarntwchk on PATH"
[ -f /usr/share/man/man1/zarntwchk.1.gz ] || fail "no manual page in /usr/share/man/man1"
p=\$(mktemp -d) && h=\$(mktemp -d) || fail mktemp
zarntwchk -m single -p "\$p" -h "\$h" >report.txt 2>stderr.txt
rc=\$?
[ \$rc -eq 0 ] && [ ! -s stderr.txt ] ||
  { cat report.txt stderr.txt; fail "exit status \$rc, or standard error not empty"; }
last=\$(tail -1 report.txt)
[ "\$last" = \$'Test Operation "Single environment check" finished. ... [ OK ]\r' ] ||
  fail "last line: \$last"
left=\$(find "\$p" "\$h" -mindepth 1)
[ -z "\$left" ] || fail "files left behind: \$left"
apt-get purge -y -q zarntwchk </dev/null >apt.log 2>&1 || { cat apt.log; fail "apt-get purge"; }
[ ! -e /usr/bin/zarntwchk ] && [ ! -e /usr/share/man/man1/zarntwchk.1.gz ] || fail "files left after purge"
echo "installed, ran OK from PATH on two folders, purged"
STEPS

mount -t proc proc "$root/proc" || exit 1
chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash /tmp/package/steps.sh
