#!/usr/bin/env bash
# Runs the Linux and the Windows build (under wine) on GEDCOM files and
# checks that both give the same outputs, byte for byte, and the same exit
# status:
#
#   [WINE=LOADER] tests/compare_builds.sh LINUX_PROGRAM WINDOWS_PROGRAM \
#     FILE_OR_FOLDER...
#
# WINE names the wine that runs the Windows program, `wine` by default
# (the 64-bit build wants /usr/lib/wine/wine64 where `wine` is the 32-bit
# one).
set -uo pipefail
linux=$1
windows=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
compared=0
differed=0
while IFS= read -r -d '' file; do
  "$linux" "$file" "$work/linux.coordinates" "$work/linux.cleaned" 2>/dev/null
  linux_status=$?
  # wine now and then fails to start a program at all; one more try tells
  # that apart from a real difference.
  for attempt in 1 2; do
    "${WINE:-wine}" "$windows" "$file" "$work/windows.coordinates" \
      "$work/windows.cleaned" </dev/null 2>/dev/null
    windows_status=$?
    if [ "$linux_status" = "$windows_status" ] &&
      cmp -s "$work/linux.coordinates" "$work/windows.coordinates" &&
      cmp -s "$work/linux.cleaned" "$work/windows.cleaned"; then
      same=yes
      break
    fi
    same=no
  done
  if [ "$same" = no ]; then
    echo "differs: $file"
    differed=$((differed + 1))
  fi
  compared=$((compared + 1))
done < <(find "$@" -type f -name '*.ged' -print0 | sort -z)
echo "$((compared - differed)) passed, $differed failed"
[ "$compared" -gt 0 ] && [ "$differed" -eq 0 ]
