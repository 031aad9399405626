#!/bin/sh
# One whole single environment check on local folders, run N times (default
# 5): wall time, CPU time (user + system), peak RSS, and the file-system
# system calls of a run (strace -f -c, traced runs apart from the timed
# ones), each the median of the runs; then the pauses of the polls of a run
# by length, and those of the main thread in total, the floor of its wall
# time; then how long each rendezvous took.
# Further arguments go to every run (-j file.json, say).
#   bench/single_run.sh <zarntwchk> [N [arguments...]]
set -eu
exe=$1
n=${2:-5}
shift
[ $# -gt 0 ] && shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/P" "$work/H"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

i=0
while [ "$i" -lt "$n" ]; do
  i=$((i + 1))
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.$i" \
    "$exe" -m single -p "$work/P" -h "$work/H" "$@" > "$work/out.$i" || echo "run $i: exit status $?"
  strace -f -c -o "$work/calls.$i" -e trace=%file,%desc \
    "$exe" -m single -p "$work/P" -h "$work/H" "$@" > /dev/null || true
  strace -f -o "$work/sleeps.$i" -e trace=clock_nanosleep \
    "$exe" -m single -p "$work/P" -h "$work/H" "$@" > /dev/null || true
done

wall=$(cat "$work"/time.* | awk '{ print $1 }' | median)
cpu=$(cat "$work"/time.* | awk '{ printf "%.0f\n", ($2 + $3) * 1000 }' | median)
rss=$(cat "$work"/time.* | awk '{ print $4 }' | median)
calls=$(for f in "$work"/calls.*; do awk '$NF == "total" { print $4 }' "$f"; done | median)
# The pauses of the polls, in ms, of all threads ("pid ms" a line), not the
# layer's own waits of microseconds; the main thread is the first to sleep.
pauses() {
  sed -n 's/^\([0-9]*\) .*clock_nanosleep(.*tv_sec=\([0-9]*\), tv_nsec=\([0-9]*\).*/\1 \2 \3/p' "$1" |
    awk '$2 > 0 || $3 >= 1000000 { printf "%d %d\n", $1, $2 * 1000 + $3 / 1000000 }'
}
main_pauses=$(for f in "$work"/sleeps.*; do
  pauses "$f" | awk 'NR == 1 { main = $1 } $1 == main { sum += $2 } END { print sum + 0 }'
done | median)

echo "runs:                      $n"
echo "wall time (median):        $wall s   (target 1.0 s; before the short first pauses 3.5 s)"
echo "CPU time (median):         $cpu ms  (target 60 ms)"
echo "peak RSS (median):         $rss KiB (target 4096 KiB)"
echo "file-system system calls:  $calls (median; %file and %desc)"
echo "main thread's pauses:      $main_pauses ms (median of the traced runs: the floor of the wall time)"
echo "pauses of the traced run $n by length (ms), both threads:"
pauses "$work/sleeps.$n" | awk '{ print $2 }' | sort -n | uniq -c | awk '{ printf "  %4d x %3d ms\n", $1, $2 }'
echo "left in the folders:       $(find "$work/P" "$work/H" -mindepth 1 | wc -l) entries"
echo
echo "system calls of the last traced run, by kind:"
sed -n '1,40p' "$work/calls.$n"

# How long each rendezvous took: the main thread's lines timed as they
# arrive, from "Pre-processing for synchronization" (109) to
# "Synchronization is complete" (91).
echo
python3 - "$exe" "$work" "$n" <<'PY'
import subprocess, sys, time
exe, work, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
for run in range(n):
    proc = subprocess.Popen([exe, "-m", "single", "-p", work + "/P", "-h", work + "/H"],
                            stdout=subprocess.PIPE)
    start, took = None, []
    for line in proc.stdout:
        now = time.monotonic()
        if b"Pre-processing for synchronization" in line:
            start = now
        elif b"Synchronization is complete" in line and start is not None:
            took.append((now - start) * 1000)
            start = None
    proc.wait()
    took.sort()
    print("run %d: %d rendezvous, median %.0f ms, slowest %.0f ms"
          % (run + 1, len(took), took[len(took) // 2] if took else 0, took[-1] if took else 0))
PY
