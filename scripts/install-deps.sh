#!/bin/sh
# Installs what Tandrel needs from Debian or Ubuntu packages: `runtime` for
# building and running the app, `demo` for the demo as well, `test` for the test suite.
set -eu
set -- "${1:-runtime}"

# qt6-wayland makes Tandrel a native client under Wayland; libxcb1-dev lets it ask
# an X server whether a compositing manager runs.
runtime="cmake g++ make pkg-config qt6-base-dev qt6-wayland libxcb1-dev libqt6svg6 librtmidi-dev libasound2-dev libgl-dev"
test="$runtime libgtest-dev jackd2 libjack-jackd2-dev xvfb xdotool x11-utils imagemagick weston
      desktop-file-utils appstream clang libclang-rt-dev dpkg-dev lintian
      qemu-system-x86 linux-image-amd64 busybox-static alsa-utils"
case "$1" in
  runtime) packages=$runtime ;;
  demo) packages="$runtime jackd2" ;;
  test) packages=$test ;;
  *) echo "usage: $0 [runtime|demo|test]" >&2; exit 2 ;;
esac

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
echo "Installing:$missing"
$sudo apt-get update
# jackd2 asks about realtime scheduling; take its default without a terminal.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
