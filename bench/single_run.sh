#!/bin/sh
# One whole single environment check on local folders, run N times (default
# 5): wall time, CPU time (user + system), peak RSS, and the file-system
# system calls of a run (strace -f -c, traced runs apart from the timed
# ones), each the median of the runs; then the 100 ms sleeps of a run, the
# polls that set the floor of its wall time.
#   bench/single_run.sh <zarntwchk> [N]
set -eu
exe=$1
n=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/P" "$work/H"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

i=0
while [ "$i" -lt "$n" ]; do
  i=$((i + 1))
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.$i" \
    "$exe" -m single -p "$work/P" -h "$work/H" > "$work/out.$i" || echo "run $i: exit status $?"
  strace -f -c -o "$work/calls.$i" -e trace=%file,%desc \
    "$exe" -m single -p "$work/P" -h "$work/H" > /dev/null || true
  strace -f -o "$work/sleeps.$i" -e trace=clock_nanosleep \
    "$exe" -m single -p "$work/P" -h "$work/H" > /dev/null || true
done

wall=$(cat "$work"/time.* | awk '{ print $1 }' | median)
cpu=$(cat "$work"/time.* | awk '{ printf "%.0f\n", ($2 + $3) * 1000 }' | median)
rss=$(cat "$work"/time.* | awk '{ print $4 }' | median)
calls=$(for f in "$work"/calls.*; do awk '$NF == "total" { print $4 }' "$f"; done | median)
# The 100 ms polls (tv_nsec=100000000) of all threads, not the layer's own waits.
sleeps=$(for f in "$work"/sleeps.*; do grep -c 'tv_nsec=100000000' "$f" || true; done | median)

echo "runs:                      $n"
echo "wall time (median):        $wall s   (floor of 34 polls: 3.4 s; target 3.9 s)"
echo "CPU time (median):         $cpu ms  (target 60 ms)"
echo "peak RSS (median):         $rss KiB (target 4096 KiB)"
echo "file-system system calls:  $calls (median; %file and %desc)"
echo "100 ms sleeps per run:     $sleeps (median, both threads)"
echo "left in the folders:       $(find "$work/P" "$work/H" -mindepth 1 | wc -l) entries"
echo
echo "system calls of the last traced run, by kind:"
sed -n '1,40p' "$work/calls.$n"

# Rendezvous that cost two polls: the main thread's lines timed as they
# arrive, from "Pre-processing for synchronization" (109) to "Synchronization
# is complete" (91).
echo
python3 - "$exe" "$work" "$n" <<'PY'
import subprocess, sys, time
exe, work, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
for run in range(n):
    proc = subprocess.Popen([exe, "-m", "single", "-p", work + "/P", "-h", work + "/H"],
                            stdout=subprocess.PIPE)
    start, count, slow = None, 0, []
    for line in proc.stdout:
        now = time.monotonic()
        if b"Pre-processing for synchronization" in line:
            start = now
        elif b"Synchronization is complete" in line and start is not None:
            count += 1
            if now - start > 0.15:
                slow.append(count)
            start = None
    proc.wait()
    print("run %d: %d rendezvous, %d of them two polls long (numbers %s)" % (run + 1, count, len(slow), slow))
PY
