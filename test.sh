#!/usr/bin/env bash
# Builds every target with AddressSanitizer + UndefinedBehaviorSanitizer, runs the fuzz targets
# briefly, then the whole suite through ctest (arguments go to ctest).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
./scripts/run-fuzz.sh
export QT_QPA_PLATFORM=offscreen
ctest --preset asan "$@"
