#!/usr/bin/env bash
# Builds a package of the program:
#   ./package.sh          -> kestrovane_VERSION_ARCH.deb (Debian package) in this folder
#   ./package.sh windows  -> kestrovane-cli-VERSION-win64.zip (kestrovane-cli.exe, its manual page
#                            as text, README-windows.txt) in this folder
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
if [ "${1:-}" = windows ]; then
  cmake --preset windows-package >/dev/null
  cmake --build --preset windows-package --target kestrovane-cli
  version=$(sed -n 's/^project(Kestrovane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  name=kestrovane-cli-$version-win64
  stage=build/windows-package/$name
  rm -rf "$stage" "$name.zip"
  mkdir -p "$stage"
  cp build/windows-package/src/cli/kestrovane-cli.exe "$stage/"
  x86_64-w64-mingw32-strip "$stage/kestrovane-cli.exe"
  # Windows text files: CR LF line ends.
  MANWIDTH=80 man -l packaging/kestrovane-cli.1 2>/dev/null | col -bx | sed 's/$/\r/' >"$stage/kestrovane-cli.txt"
  sed 's/$/\r/' packaging/windows/README.txt >"$stage/README-windows.txt"
  (cd build/windows-package && cmake -E tar cf "../../$name.zip" --format=zip "$name")
  echo "$name.zip"
  exit 0
fi
cmake --preset package >/dev/null
cmake --build --preset package
rm -f build/package/kestrovane_*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/kestrovane_*.deb)
cp "$deb" .
echo "$(basename "$deb")"
