#!/usr/bin/env bash
# Builds the Debian package from the build tree into a work folder.
#   build_deb.sh <build dir> <work dir> <expected file name>
set -euo pipefail
build=$1 work=$2 name=$3

for tool in dpkg-deb dpkg-shlibdeps fakeroot; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (dpkg-dev, fakeroot)"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work"
[ -f "$work/$name" ] || { echo "FAIL: expected $work/$name"; ls "$work"; exit 1; }
echo "built $name"
