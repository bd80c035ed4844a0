#!/usr/bin/env bash
# Installs the udev rule that lets the logged-in user open the Kestrovane device. Never fails
# and never prompts: without root rights (or password-less sudo) or without udev it explains
# and skips.
here=$(cd "$(dirname "$0")" && pwd)
rule="$here/../packaging/70-kestrovane.rules"
target_dir=/etc/udev/rules.d
target="$target_dir/70-kestrovane.rules"

note() { echo "install-udev-rule: $*" >&2; }

[ -f "$rule" ] || { note "rule file missing; skipped"; exit 0; }
[ -d "$target_dir" ] || { note "no udev here; skipped"; exit 0; }
if [ -f "$target" ] && cmp -s "$rule" "$target"; then
  exit 0
fi

run=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    run=(sudo -n)
  else
    note "needs root to install $target; skipped (run: sudo install -m 644 $rule $target)"
    exit 0
  fi
fi

if "${run[@]}" install -m 644 "$rule" "$target" 2>/dev/null; then
  if command -v udevadm >/dev/null 2>&1; then
    "${run[@]}" udevadm control --reload-rules >/dev/null 2>&1 || true
    "${run[@]}" udevadm trigger --subsystem-match=hidraw >/dev/null 2>&1 || true
  fi
  note "installed $target"
else
  note "could not write $target; skipped"
fi
exit 0
