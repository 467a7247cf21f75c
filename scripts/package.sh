#!/bin/sh
# Builds the Debian package tandrel_<version>_<arch>.deb in BUILD_DIR (default
# build-package, configured for release when it does not exist yet), checks it
# with lintian, and then checks what it installs:
#   --check    unpacks it into a temporary root, checks that every dependency is
#              installed here, runs tandrel-cli --version from the unpacked tree and
#              validates the unpacked desktop entry;
#   --install  (a throwaway root machine, such as CI) installs it with apt, runs
#              /usr/bin/tandrel-cli --version, validates the installed desktop
#              entry, and removes the package again.
set -eu
cd "$(dirname "$0")/.."
build=build-package
mode=""
for arg in "$@"; do
  case "$arg" in
    --check|--install) mode="$arg" ;;
    -*) echo "usage: $0 [BUILD_DIR] [--check|--install]" >&2; exit 2 ;;
    *) build="$arg" ;;
  esac
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTANDREL_BUILD_TESTS=OFF
fi
targets="tandrel tandrel-cli tandrel_changelog tandrel_cli_manual"
[ -d tools/gt3sim ] && targets="$targets gt3sim"
cmake --build "$build" -j"$(nproc)" --target $targets
(cd "$build" && rm -f tandrel_*.deb && cpack -G DEB >/dev/null)
deb="$(ls "$build"/tandrel_*.deb)"
echo "Built $deb"
dpkg-deb -f "$deb" Package Version Architecture Depends

echo "== lintian"
lintian --fail-on error --suppress-tags no-manual-page "$deb"

desktop=usr/share/applications/org.example.Tandrel.desktop
case "$mode" in
  --check)
    root="$(mktemp -d)"
    trap 'rm -rf "$root"' EXIT
    dpkg-deb -x "$deb" "$root"
    # Every dependency must name a package that this machine has installed.
    dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/[(|].*//; s/ //g' | while read -r p; do
      [ -z "$p" ] && continue
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || { echo "missing dependency: $p" >&2; exit 1; }
    done
    "$root/usr/bin/tandrel-cli" --version
    desktop-file-validate "$root/$desktop"
    [ -f "$root/usr/share/man/man1/tandrel-cli.1.gz" ]
    ;;
  --install)
    DEBIAN_FRONTEND=noninteractive apt-get install -y "$(realpath "$deb")"
    /usr/bin/tandrel-cli --version
    desktop-file-validate "/$desktop"
    man -w tandrel-cli
    DEBIAN_FRONTEND=noninteractive apt-get remove -y tandrel
    ;;
esac
echo "Package OK: $deb"
