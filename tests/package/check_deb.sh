#!/bin/sh
# Builds the Debian package of a build folder (the host's or a cross build), installs it into a scratch root:
# the camera's binary, its unit and the example configuration and nothing else; the binary runs; removal leaves nothing.
#   check_deb.sh <build folder> <source folder>
set -eu
build=$1 source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack"; }
arch=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$arch" ] || arch=$(dpkg --print-architecture)
[ "$arch" = armhf ] && run="qemu-arm -L /usr/arm-linux-gnueabihf" || run=""
deb=$(ls "$scratch"/out/ptzcam_*_"$arch".deb) || fail "no ptzcam_*_$arch.deb"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "architecture"
dpkg-deb -f "$deb" Version | grep -q '^[0-9]\+\.[0-9]\+\.[0-9]\+$' || fail "version"
dpkg-deb -f "$deb" Depends | grep -q libstdc++6 || fail "depends"

installed() { (cd "$scratch/root" && find . -path ./var/lib/dpkg -prune -o -type f -print | sort); }
mkdir -p "$scratch/root/var/lib/dpkg/info" "$scratch/root/var/lib/dpkg/updates" && touch "$scratch/root/var/lib/dpkg/status"
dpkg="dpkg --root=$scratch/root --force-not-root --force-depends --force-architecture --log=/dev/null"
$dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i"; }
installed >"$scratch/files"
printf '%s\n' ./usr/bin/ptzcam ./usr/lib/systemd/system/ptzcam.service ./usr/share/ptzcam/config.cfg >"$scratch/expected"
diff -u "$scratch/expected" "$scratch/files" || fail "the package's files"

cmp "$source/packaging/config.cfg" "$scratch/root/usr/share/ptzcam/config.cfg" || fail "example configuration"
unit="$scratch/root/usr/lib/systemd/system/ptzcam.service"
for line in ExecStart=/usr/bin/ptzcam After=network-online.target StandardInput=null SuccessExitStatus=15 \
    Restart=on-failure LimitRTPRIO=infinity WantedBy=multi-user.target; do
    grep -qx "$line" "$unit" || fail "unit lacks $line"
done
# The installed binary runs: its version text, under a device root of its own.
mkdir -p "$scratch/device/root/server"
version=$(PTZCAM_ROOT="$scratch/device" $run "$scratch/root/usr/bin/ptzcam" -v) || fail "ptzcam -v"
echo "$version" | grep -q "^v$(dpkg-deb -f "$deb" Version)_" || fail "version text: $version"
$dpkg -r ptzcam >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -r"; }
[ -z "$(installed)" ] || fail "files left after removal: $(installed)"
echo "package $(basename "$deb") installs the binary, the unit and the example configuration, and removes them"
