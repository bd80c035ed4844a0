#!/usr/bin/env bash
# The Windows build and its tests: cross-builds the Qt-free libraries, kestrovane-cli.exe and the
# Qt-free test programs with MinGW-w64 (preset "windows"), runs the test programs under Wine, then
# runs the command-line tool as a Windows program beside the Linux build's and compares the files
# they write byte for byte. Usage: scripts/test-windows.sh LINUX_CLI (a Linux kestrovane-cli).
# Wine runs in a prefix inside the build folder; its server is ended on the way out.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_cli=$(realpath "$1")
root=$PWD
export KV_WINEPREFIX="$root/build/windows/wineprefix"
stop_wine() { WINEPREFIX="$KV_WINEPREFIX" wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

# The same commands through both builds; every file written must be the same bytes.
win_cli() { "$root/cmake/wine-run.sh" "$root/build/windows/src/cli/kestrovane-cli.exe" "$@"; }
lin_cli() { "$linux_cli" "$@"; }
work=$(mktemp -d)
trap 'stop_wine; rm -rf "$work"' EXIT
mkdir -p "$work/linux" "$work/windows"
utf8_name=$'Z\xc3\xbcndung \xc3\xb6.bin' # "Zündung ö.bin"
for side in linux windows; do
  run() { if [ "$side" = linux ]; then lin_cli "$@"; else win_cli "$@"; fi; }
  (
    cd "$work/$side"
    run image new MRX_D -o lh.bin >/dev/null
    run map set lh.bin "Base fuel map (cat)" 3 4 17 -o map.bin >/dev/null
    run param set map.bin rev_limit_rpm 6500 -o param.bin >/dev/null
    run diff lh.bin param.bin >diff.txt || true
    run --simulate --sim-state sim.state device load-pem param.bin >/dev/null
    run --simulate --sim-state sim.state device read-pem lh -o back.bin >/dev/null
    cp param.bin "$utf8_name"
    run param set "$utf8_name" injector_size 24 >/dev/null
  )
done
# Windows console output ends lines with CR LF; the texts are compared without it.
sed -i 's/\r$//' "$work/windows/diff.txt"
status=0
for f in lh.bin map.bin param.bin back.bin diff.txt "$utf8_name"; do
  if ! cmp -s "$work/linux/$f" "$work/windows/$f"; then
    echo "Windows and Linux builds differ in $f" >&2
    status=1
  fi
done
if [ "$status" -eq 0 ]; then
  echo "Windows CLI: 6 files byte-identical to the Linux build's"
fi

# A save onto a full disk (a tmpfs, which Wine sees as a folder of drive Z:).
set +e
./scripts/test-full-disk.sh "$root/cmake/wine-run.sh" "$root/build/windows/src/cli/kestrovane-cli.exe"
disk=$?
set -e
[ "$disk" -eq 0 ] || [ "$disk" -eq 77 ] || status=1
exit $status
