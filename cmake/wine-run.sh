#!/bin/bash
# Runs a Windows test binary under Wine: the cross build's
# CMAKE_CROSSCOMPILING_EMULATOR, so ctest starts every .exe through here.
#
# Quiet and headless unless the caller says otherwise.  Wine takes the
# prefix from WINEPREFIX (scripts/test-all.sh makes one of its own).
#
# ZARN_EXE and ZARN_BUILD reach the binary in their Windows form (Z:\...):
# Wine 8 accepts a Unix path in CreateFileA, GetFileAttributesA and
# CreateProcessA, but a Windows program that splits, joins or compares
# paths expects drive and backslashes, as it would get them on Windows.
export WINEDEBUG="${WINEDEBUG--all}"
unset DISPLAY

to_windows() {
  local p
  p=$(winepath -w "$1" 2>/dev/null) && [ -n "$p" ] || p="Z:${1//\//\\}"
  printf '%s' "$p"
}

for var in ZARN_EXE ZARN_BUILD; do
  val="${!var-}"
  if [ "${val:0:1}" = "/" ]; then
    export "$var=$(to_windows "$val")"
  fi
done

exec wine "$@"
