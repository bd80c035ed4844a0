#!/usr/bin/env bash
# Fails when the layout rules are broken:
# - Qt outside the gui folders: every file under src/ that is not in a gui/ folder must be
#   standard C++ only (no Qt include, no Q_OBJECT);
# - system headers outside the platform layer: POSIX headers only in src/platform, the Linux HID
#   backend and the Linux-only simulated device server; Windows headers only in src/platform and
#   the Windows HID calls. Everything else builds for Linux and Windows alike.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

bad=$(grep -rlE '^\s*#\s*include\s*[<"](Qt[A-Za-z]*/|Q[A-Z][A-Za-z]*>)|\bQ_OBJECT\b' src \
  --include='*.cpp' --include='*.h' | grep -v '/gui/' || true)
if [ -n "$bad" ]; then
  echo "Qt used outside a gui folder:" >&2
  echo "$bad" >&2
  status=1
fi

posix_headers='unistd|fcntl|poll|dirent|pwd|grp|termios|dlfcn|pthread|spawn|syslog|sched|semaphore|strings|libgen|glob|fnmatch|wordexp|netdb|signal'
posix_allowed='^src/(platform/|device/hidapi_backend\.cpp$|device/report_fd\.cpp$|sim/simdev/)'
bad=$(grep -rlE "^\s*#\s*include\s*<((${posix_headers})\.h|(sys|linux|arpa|netinet)/[A-Za-z0-9_/]+\.h)>" src \
  --include='*.cpp' --include='*.h' | grep -vE "$posix_allowed" || true)
if [ -n "$bad" ]; then
  echo "POSIX header outside src/platform and the Linux HID backend:" >&2
  echo "$bad" >&2
  status=1
fi

windows_allowed='^src/(platform/|device/win_hid_calls\.cpp$)'
bad=$(grep -rliE '^\s*#\s*include\s*<(windows|winbase|winuser|io|direct|process|setupapi|hidsdi|hidpi|shlobj|knownfolders)\.h>' \
  src --include='*.cpp' --include='*.h' | grep -vE "$windows_allowed" || true)
if [ -n "$bad" ]; then
  echo "Windows header outside src/platform and the Windows HID calls:" >&2
  echo "$bad" >&2
  status=1
fi
exit $status
