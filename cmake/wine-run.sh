#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, quietly, in a Wine prefix of its own
# (KV_WINEPREFIX, by default a folder in the user's cache) so that the user's ~/.wine is not touched.
# The first run creates the prefix, which takes a while; later runs reuse it.
set -euo pipefail
export WINEPREFIX="${KV_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrovane-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No desktop integration, no Mono or Gecko installers: a plain console prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}"
export DISPLAY=
mkdir -p "$WINEPREFIX"
# Wine's own services start with the first program and live on. A quiet first call starts them
# (when they are not running yet) with their output sent nowhere, so that they never hold the
# output of the build or of ctest open. test.sh ends them with the server.
wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
exec wine "$@"
