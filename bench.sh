#!/usr/bin/env bash
# Builds the benchmark configuration and prints one "name: value" line per measurement.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench --target kv_device_bench kv_map_trace_bench kv_log_bench kv_log_chart_bench kv_rss_bench kv_autotune_bench -- -j2 >/dev/null
./build/bench/bench/kv_device_bench
./build/bench/bench/kv_map_trace_bench
./build/bench/bench/kv_log_bench
./build/bench/bench/kv_log_chart_bench
./build/bench/bench/kv_autotune_bench

# The program's memory is measured on an X display, as a user runs it: the one given, or a
# virtual one started for the measurement.
xvfb=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || { export DISPLAY=":$n"; break; }
  done
  Xvfb "$DISPLAY" -screen 0 1400x900x24 >/dev/null 2>&1 &
  xvfb=$!
  trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null' EXIT
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
QT_QPA_PLATFORM=xcb ./build/bench/bench/kv_rss_bench 2>/dev/null
