#!/usr/bin/env bash
# Builds the release configuration and starts the program; arguments are passed on
# (./run.sh --simulate runs against the simulated device and car).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
[ -x scripts/install-udev-rule.sh ] && scripts/install-udev-rule.sh || true
cmake --preset release >/dev/null
cmake --build --preset release
exec ./build/release/src/app/kestrovane "$@"
