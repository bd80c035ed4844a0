#!/usr/bin/env bash
# Builds the Debian package: ./package.sh -> kestrovane_VERSION_ARCH.deb in this folder.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset package >/dev/null
cmake --build --preset package
rm -f build/package/kestrovane_*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/kestrovane_*.deb)
cp "$deb" .
echo "$(basename "$deb")"
