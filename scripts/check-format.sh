#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted as .clang-format says (prints the files).
# `scripts/check-format.sh --fix` reformats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tests bench fuzz resources \( -name '*.cpp' -o -name '*.h' \) | sort)
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! out=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  echo "Not formatted (scripts/check-format.sh --fix reformats them):" >&2
  grep -oE '^[^:]+\.(cpp|h):' <<<"$out" | sort -u | sed 's/:$//; s/^/  /' >&2
  exit 1
fi
