#!/usr/bin/env bash
# Checks the layout (no Qt outside gui folders) and the formatting, builds every target with
# GCC + AddressSanitizer + UndefinedBehaviorSanitizer, runs the fuzz targets briefly and the whole
# suite through ctest, then builds the suite again with Clang (release) and runs it there too.
# Then cross-builds for Windows and runs those tests under Wine.
# Warnings are errors in every build. Arguments go to both Linux ctest runs.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/check-layout.sh
./scripts/check-format.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
./scripts/run-fuzz.sh
export QT_QPA_PLATFORM=offscreen
ctest --preset asan "$@"
cmake --preset clang >/dev/null
cmake --build --preset clang
# The virtual-machine test drives the tools over real hidraw; it runs once, in the sanitizer build.
ctest --preset clang -E '^vm_end_to_end$' "$@"
# The Windows build (MinGW-w64) and its tests under Wine; the Windows tool's files are compared
# byte for byte with the Linux tool's.
./scripts/test-windows.sh build/clang/src/cli/kestrovane-cli
