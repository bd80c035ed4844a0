#!/usr/bin/env bash
# A save onto a full disk leaves the old file as it was and says so. A small tmpfs is mounted and
# filled, then `param set` saves an image in place on it: once with no room at all (the new file
# cannot grow) and once with a little room (the write fails part of the way through).
# Usage: scripts/test-full-disk.sh CLI [ARGS...] - the tool to run, e.g. a Linux kestrovane-cli, or
# cmake/wine-run.sh followed by kestrovane-cli.exe (the tool gets file names relative to the disk).
# Mounting needs root: where it is impossible the test ends with status 77 (skipped) and says so.
set -euo pipefail
cli=("$@")
disk=$(mktemp -d)
if ! mount -t tmpfs -o size=512k tmpfs "$disk" 2>/dev/null; then
  rmdir "$disk"
  echo "skipped: no tmpfs can be mounted here (it needs root)"
  exit 77
fi
reference=$(mktemp)
trap 'cd /; umount "$disk"; rmdir "$disk"; rm -f "$reference"' EXIT
cd "$disk"
"${cli[@]}" image new MRX_D -o lh.bin >/dev/null
cp lh.bin "$reference"
status=0
# room left on the disk (KiB) -> what is checked
for room in 0 8; do
  rm -f fill
  dd if=/dev/zero of=fill bs=4k 2>/dev/null || true
  [ "$room" -gt 0 ] && truncate -s "-${room}k" fill
  set +e
  err=$("${cli[@]}" param set lh.bin rev_limit_rpm 6510 2>&1 >/dev/null)
  code=$?
  set -e
  err=${err%$'\r'}
  if [ "$code" -ne 1 ] || [ "$err" != "Failed to save file lh.bin: Save failed - disk I/O error" ]; then
    echo "full disk, ${room} KiB free: exit $code, message \"$err\"" >&2
    status=1
  fi
  if ! cmp -s lh.bin "$reference"; then
    echo "full disk, ${room} KiB free: the old file changed" >&2
    status=1
  fi
  if [ -e lh.bin.kvtmp ]; then
    echo "full disk, ${room} KiB free: the temporary file was left" >&2
    status=1
  fi
done
rm -f fill
# With room again the same save goes through: the failures above were the full disk's.
"${cli[@]}" param set lh.bin rev_limit_rpm 6510 >/dev/null
if cmp -s lh.bin "$reference"; then
  echo "the save with room on the disk changed nothing" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "full disk: the old file stays whole, the save says why"
exit $status
