#!/bin/sh
# A party waiting alone for a partner that never comes, -t 10: how often it
# looks at the master file.  A look is one take of the guard byte (byte 0),
# the first lock of every look; strace counts them and every other lock call
# on the master file.  The wait runs from the first lock call to the last.
#   bench/lone_party.sh <lone_party> [timeout]
# Target: no more than 10 looks per second over the wait.
set -eu
exe=$1
limit=${2:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/H"

strace -f -y -ttt -e trace=fcntl -o "$work/trace" "$exe" "$work/H" "$limit" || echo "exit status $?"
grep '\.#ZARLOCK\.master>, F_OFD_SETLK' "$work/trace" > "$work/locks" || true
awk -v limit="$limit" '
  { t = $2 + 0; if (NR == 1) first = t; last = t }
  /l_type=F_WRLCK, l_whence=SEEK_SET, l_start=0, l_len=1}/ { looks++ }
  END {
    wait = last - first
    printf "time limit:                %d s\n", limit
    printf "wait (first to last lock): %.2f s\n", wait
    printf "lock calls on the master:  %d (%.1f per second)\n", NR, NR / wait
    printf "looks (takes of byte 0):   %d (%.2f per second; target 10)\n", looks, looks / wait
  }' "$work/locks"
echo "looks in each second of the wait:"
awk 'NR == 1 { first = $2 } /l_start=0, l_len=1}/ && /F_WRLCK/ { n[int($2 - first)]++ }
     END { for (s = 0; s in n; s++) printf " %d", n[s]; print "" }' "$work/locks"
