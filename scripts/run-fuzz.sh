#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang) and runs each for a while (FUZZ_SECONDS,
# default 20). A crash or sanitizer report fails the script and prints the fuzzer's output; the
# crashing input is kept in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
targets=(fuzz_reply_path fuzz_firmware_container)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}" -- -j2 >/dev/null
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus-$t
  log=build/fuzz/$t.log
  mkdir -p "$corpus"
  if (cd build/fuzz && ./fuzz/$t -max_total_time="$seconds" -print_final_stats=0 "corpus-$t" >"$t.log" 2>&1); then
    echo "fuzz $t: ok, $(grep -o 'Done [0-9]* runs' "$log" | tail -n 1) in ${seconds}s"
  else
    tail -n 40 "$log" >&2
    echo "fuzz $t: FAILED (log: $log)" >&2
    exit 1
  fi
done
