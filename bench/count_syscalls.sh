#!/bin/sh
# System calls an open with share checking adds to a plain open(2): strace
# counts N open/close pairs of each kind; the difference per pair is what
# CreateFileA and CloseHandle add.
#   bench/count_syscalls.sh <path of platform_bench> [N]
set -eu
bench=$1
n=${2:-1000}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for mode in plain layer layer-busy; do
  strace -f -c -o "$out/$mode" "$bench" --syscalls "$mode" "$n"
done
total() { awk '$NF == "total" { print $(NF-2) }' "$out/$1"; }
plain=$(total plain)
for mode in layer layer-busy; do
  t=$(total "$mode")
  echo "$mode: $(( (t - plain) / n )) more system calls per open/close pair than open(2)+close(2) (totals $t vs $plain for $n pairs)"
done
echo "layer run, by kind:"
cat "$out/layer"
