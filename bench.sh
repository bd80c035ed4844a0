#!/usr/bin/env bash
# Builds the benchmark configuration and prints one "name: value" line per measurement.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench --target kv_device_bench kv_map_trace_bench -- -j2 >/dev/null
./build/bench/bench/kv_device_bench
./build/bench/bench/kv_map_trace_bench
