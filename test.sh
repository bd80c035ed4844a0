#!/usr/bin/env bash
# Builds every target with AddressSanitizer + UndefinedBehaviorSanitizer and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
export QT_QPA_PLATFORM=offscreen
ctest --preset asan "$@"
./scripts/run-fuzz.sh
