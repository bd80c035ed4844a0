#!/usr/bin/env bash
# Installs the Debian package into a fresh Debian 12 root and starts both programs there:
#   scripts/test-package.sh kestrovane_VERSION_amd64.deb [ROOT]
# ROOT (default build/debian12-root) is made with debootstrap when it does not exist yet, and
# copied afresh for every run so that each install starts from a clean system. Needs root.
# With KV_PACKAGE_DISPLAY set (an X display such as :57), the program is started on that display
# through the X11 platform plugin instead of offscreen, so it can be looked at.
set -euo pipefail
deb=$(realpath "$1")
base=${2:-build/debian12-root}
if [ ! -x "$base/usr/bin/apt-get" ]; then
  command -v debootstrap >/dev/null || apt-get install -y -q debootstrap >/dev/null
  debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian >/dev/null
fi
root=$(mktemp -d /tmp/kestrovane-root.XXXXXX)
cleanup() {
  for m in tmp/.X11-unix dev/pts dev proc; do umount "$root/$m" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
cp -a "$base/." "$root/"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t proc proc "$root/proc"
platform=(QT_QPA_PLATFORM=offscreen)
if [ -n "${KV_PACKAGE_DISPLAY:-}" ]; then
  mkdir -p "$root/tmp/.X11-unix"
  mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  platform=(QT_QPA_PLATFORM=xcb DISPLAY="$KV_PACKAGE_DISPLAY")
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

in_root apt-get update -q >/dev/null
in_root apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" >/dev/null
echo "installed: $(in_root dpkg-query -W -f='${Package} ${Version}' kestrovane)"
for f in /usr/bin/kestrovane /usr/bin/kestrovane-cli /usr/share/applications/kestrovane.desktop \
         /usr/share/icons/hicolor/scalable/apps/kestrovane.svg /usr/lib/udev/rules.d/70-kestrovane.rules \
         /usr/share/man/man1/kestrovane-cli.1.gz; do
  [ -e "$root$f" ] || { echo "missing: $f"; exit 1; }
done
in_root kestrovane-cli image new EZK_D-GT -o /tmp/ezk.bin
in_root kestrovane-cli image info /tmp/ezk.bin | head -2
# The program as the desktop entry starts it: still running after 5 s (KV_PACKAGE_SECONDS)
# means it came up (a missing library or plugin ends it at once).
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/kestrovane.desktop" | head -1)
set +e
mkdir -p -m 700 "$root/run/user/0"
in_root /usr/bin/env "${platform[@]}" XDG_RUNTIME_DIR=/run/user/0 timeout "${KV_PACKAGE_SECONDS:-5}" $exec_line --simulate
rc=$?
set -e
[ "$rc" -eq 124 ] || { echo "the program ended with $rc instead of running"; exit 1; }
echo "program started: $exec_line --simulate"
