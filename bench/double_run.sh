#!/bin/sh
# One whole double check on local folders: two processes started at once
# against the same two folders, as two hosts start them; run N times
# (default 3).  Of each process (the one that took role 0 is not told apart):
# wall time, CPU time (user + system), peak RSS, and its file-system system
# calls (strace -f -c, traced pairs apart from the timed ones), each the
# median of the runs.  Then the floor of a process's wall time that its
# polls set: the pauses of its main thread between looks at the master file
# (strace of clock_nanosleep, as bench/single_run.sh counts them), and how
# many rendezvous and closing handshakes its report shows.  Before the short
# first pauses every one of those cost at least one 100 ms pause (8.7 s of
# floor, 8.6 to 8.9 s of wall).
#   bench/double_run.sh <zarntwchk> [N]
set -eu
exe=$(realpath "$1")
n=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/P" "$work/H"
check="-m double -p $work/P -h $work/H"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

i=0
while [ "$i" -lt "$n" ]; do
  i=$((i + 1))
  for side in a b; do
    # shellcheck disable=SC2086
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.$i.$side" "$exe" $check \
      > "$work/out.$i.$side" || echo "run $i, $side: exit status $?" >> "$work/failed" &
  done
  wait
  for side in a b; do
    # shellcheck disable=SC2086
    strace -f -c -o "$work/calls.$i.$side" -e trace=%file,%desc "$exe" $check > /dev/null || true &
  done
  wait
  for side in a b; do
    # shellcheck disable=SC2086
    strace -f -o "$work/sleeps.$i.$side" -e trace=clock_nanosleep "$exe" $check > /dev/null || true &
  done
  wait
done

per_process() { for f in "$@"; do cat "$f"; done; }
wall=$(per_process "$work"/time.* | awk '{ print $1 }' | median)
cpu=$(per_process "$work"/time.* | awk '{ printf "%.0f\n", ($2 + $3) * 1000 }' | median)
cpu_max=$(per_process "$work"/time.* | awk '{ printf "%.0f\n", ($2 + $3) * 1000 }' | sort -n | tail -1)
rss=$(per_process "$work"/time.* | awk '{ print $4 }' | median)
rss_max=$(per_process "$work"/time.* | awk '{ print $4 }' | sort -n | tail -1)
calls=$(for f in "$work"/calls.*; do awk '$NF == "total" { print $4 }' "$f"; done | median)
polls=$(for f in "$work"/out.*; do
  grep -c -e 'Synchronization is complete\.' -e 'Termination processing for synchronization will now start\.' "$f"
done | median)
# The pauses of the polls, in ms, of the main thread (the first to sleep),
# not the layer's own waits of microseconds.
main_pauses() {
  sed -n 's/^\([0-9]*\) .*clock_nanosleep(.*tv_sec=\([0-9]*\), tv_nsec=\([0-9]*\).*/\1 \2 \3/p' "$1" |
    awk '$2 > 0 || $3 >= 1000000 { ms = $2 * 1000 + $3 / 1000000; if (!main) main = $1; if ($1 == main) sum += ms }
         END { printf "%d\n", sum }'
}
floor=$(for f in "$work"/sleeps.*; do main_pauses "$f"; done | median)

echo "pairs:                            $n (per-process figures are medians over $((2 * n)) processes)"
echo "wall time (median):               $wall s"
echo "floor of the polls:               $floor ms of the main thread's pauses, over $polls rendezvous and handshakes (target: wall within 15%)"
echo "CPU time (median, max):           $cpu ms, $cpu_max ms (target under 100 ms)"
echo "peak RSS (median, max):           $rss KiB, $rss_max KiB (target under 4096 KiB)"
echo "file-system system calls:         $calls (median per process; %file and %desc)"
echo "exit statuses other than 0:       $(cat "$work/failed" 2>/dev/null | wc -l)"
echo "left in the folders:              $(find "$work/P" "$work/H" -mindepth 1 | wc -l) entries"
echo
echo "system calls of the last traced process, by kind:"
sed -n '1,40p' "$work/calls.$n.b"
