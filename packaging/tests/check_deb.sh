#!/usr/bin/env bash
# The package's control fields, its file list, and lintian's verdict.
#   check_deb.sh <package file> <resources source dir>
set -euo pipefail
deb=$1 resources=$2
id=org.sweepkin.Sweepkin

fail() { echo "FAIL: $*"; exit 1; }
field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = sweepkin ] || fail "Package is $(field Package)"
[ "$(field Version)" = 4.0 ] || fail "Version is $(field Version)"
[ "$(field Section)" = utils ] || fail "Section is $(field Section)"
[ "$(field Priority)" = optional ] || fail "Priority is $(field Priority)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is $(field Architecture)"
field Maintainer | grep -q '^Sweepkin developers <maintainers@sweepkin\.invalid>$' ||
    fail "Maintainer is $(field Maintainer)"
depends=$(field Depends)
echo "Depends: $depends"
names=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ .*//')
for dep in libc6 libstdc++6 libqt6core6 libqt6network6 libqt6widgets6 qt6-qpa-plugins; do
    grep -qxF "$dep" <<<"$names" || fail "Depends lacks $dep"
done
[ -n "$(field Description | sed -n 2p)" ] || fail "no extended description"

listing=$(dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }')
expect=(
    ./usr/bin/sweepkin
    "./usr/share/sweepkin/BETA LICENSE (EULA).txt"
    ./usr/share/applications/$id.desktop
    ./usr/share/metainfo/$id.metainfo.xml
    ./usr/share/man/man1/sweepkin.1.gz
    ./usr/share/doc/sweepkin/copyright
    ./usr/share/doc/sweepkin/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
    [ -f "$resources/icons/$id-$size.png" ] && expect+=(./usr/share/icons/hicolor/${size}x${size}/apps/$id.png)
done
[ -f "$resources/icons/$id.svg" ] && expect+=(./usr/share/icons/hicolor/scalable/apps/$id.svg)
for f in "${expect[@]}"; do
    grep -qxF "$f" <<<"$listing" || fail "package lacks $f"
done
# Only our own folders: nothing outside /usr, nothing from the build or the tests.
unexpected=$(grep -vE '^\./(usr/?)?$|^\./usr/(bin|share)/?' <<<"$listing" || true)
[ -z "$unexpected" ] || fail "unexpected entries: $unexpected"
! grep -qiE 'test|gtest|\.a$|\.h$' <<<"$listing" || fail "test or development files in the package"
# Owned by root, directories 0755.
dpkg-deb -c "$deb" | awk '$2 != "root/root" { bad = 1; print } END { exit bad }' ||
    fail "files not owned by root"
dpkg-deb -c "$deb" | awk '/^d/ && $1 != "drwxr-xr-x" { bad = 1; print } END { exit bad }' ||
    fail "directories not 0755"

if ! command -v lintian >/dev/null; then
    echo "SKIP: lintian is not installed"
    exit 77
fi
# lintian leaves a temporary file of its own behind (mldbm-elf-*): it gets a folder that goes.
lintian_tmp=$(mktemp -d)
trap 'rm -rf "$lintian_tmp"' EXIT
report=$(TMPDIR=$lintian_tmp lintian --allow-root --no-cfg --display-level '>=warning' "$deb" 2>&1) ||
    true
printf '%s\n' "$report"
if grep -q '^E: ' <<<"$report"; then
    fail "lintian reported errors"
fi
echo "package OK"
