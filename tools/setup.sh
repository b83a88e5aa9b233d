#!/bin/sh
# Installs the Debian packages the build needs, only those that are missing.
#   tools/setup.sh            host build, simulator and tests
#   tools/setup.sh cross      + the armhf cross compiler and qemu to run its unit tests
#   tools/setup.sh fuzz       + clang for the fuzz targets
#   tools/setup.sh coverage   + gcovr for the coverage report
set -eu

packages="cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
libcpp-httplib-dev nlohmann-json3-dev librapidxml-dev libavcodec-dev libavutil-dev
chromium nodejs"
for extra in "$@"; do
    case "$extra" in
        cross) packages="$packages g++-arm-linux-gnueabihf qemu-user" ;;
        fuzz) packages="$packages clang libclang-rt-dev" ;;
        coverage) packages="$packages gcovr" ;;
        *) echo "setup.sh: unknown group '$extra' (cross, fuzz, coverage)" >&2; exit 2 ;;
    esac
done

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# Some builds of nodejs carry npm themselves; the browser test installs its driver with it.
command -v npm >/dev/null || missing="$missing npm"
[ -z "$missing" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing:$missing"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
