#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for a while (FUZZ_SECONDS,
# default 20). A crash or sanitizer report fails the script; the input is kept in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
targets=(fuzz_reply_path fuzz_firmware_container)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}" -- -j2
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus-$t
  mkdir -p "$corpus"
  echo "fuzzing $t for ${seconds}s" >&2
  (cd build/fuzz && ./fuzz/$t -max_total_time="$seconds" -print_final_stats=0 "corpus-$t" 2>&1 | tail -n 30)
done
