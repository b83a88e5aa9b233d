#!/bin/sh
# Builds the Debian package from a build folder, unpacks it into a scratch root and checks
# that it holds the camera's binary, its unit and the example configuration, and nothing else.
#   check_deb.sh <build folder> <source folder>
set -eu
build=$1 source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$(ls "$scratch"/out/ptzcam_*_"$arch".deb) || fail "no ptzcam_*_$arch.deb"
[ "$(dpkg-deb -f "$deb" Package)" = ptzcam ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "architecture"
dpkg-deb -f "$deb" Version | grep -q '^[0-9]\+\.[0-9]\+\.[0-9]\+$' || fail "version"
dpkg-deb -f "$deb" Depends | grep -q libstdc++6 || fail "depends"

dpkg-deb -x "$deb" "$scratch/root"
(cd "$scratch/root" && find . -type f | sort) >"$scratch/files"
printf '%s\n' ./usr/bin/ptzcam ./usr/lib/systemd/system/ptzcam.service ./usr/share/ptzcam/config.cfg >"$scratch/expected"
diff -u "$scratch/expected" "$scratch/files" || fail "the package's files"

cmp "$source/packaging/config.cfg" "$scratch/root/usr/share/ptzcam/config.cfg" || fail "example configuration"
unit="$scratch/root/usr/lib/systemd/system/ptzcam.service"
for line in ExecStart=/usr/bin/ptzcam After=network-online.target StandardInput=null SuccessExitStatus=15 \
    Restart=on-failure LimitRTPRIO=infinity WantedBy=multi-user.target; do
    grep -qx "$line" "$unit" || fail "unit lacks $line"
done
# The unpacked binary runs: its version text, under a device root of its own.
mkdir -p "$scratch/device/root/server"
version=$(PTZCAM_ROOT="$scratch/device" "$scratch/root/usr/bin/ptzcam" -v) || fail "ptzcam -v"
echo "$version" | grep -q "^v$(dpkg-deb -f "$deb" Version)_" || fail "version text: $version"
echo "package $(basename "$deb") holds the binary, the unit and the example configuration"
