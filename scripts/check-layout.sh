#!/usr/bin/env bash
# Fails when Qt is used outside the gui folders: every file under src/ that is not in a gui/
# folder must be standard C++ only (no Qt include, no Q_OBJECT).
set -euo pipefail
cd "$(dirname "$0")/.."
bad=$(grep -rlE '^\s*#\s*include\s*[<"](Qt[A-Za-z]*/|Q[A-Z][A-Za-z]*>)|\bQ_OBJECT\b' src \
  --include='*.cpp' --include='*.h' | grep -v '/gui/' || true)
if [ -n "$bad" ]; then
  echo "Qt used outside a gui folder:" >&2
  echo "$bad" >&2
  exit 1
fi
