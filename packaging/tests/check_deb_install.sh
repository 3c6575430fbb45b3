#!/usr/bin/env bash
# Installs the package into this machine with dpkg, runs the installed program's self-test, then
# removes the package and checks that none of its files stayed behind. Needs root.
#   check_deb_install.sh <package file> <work dir>
set -euo pipefail
deb=$1 work=$2

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing a package needs root"
    exit 77
fi
# Any trace of the package in dpkg's database (installed, unpacked, config files) counts.
present() {
    local status
    status=$(dpkg-query -W -f='${Status}' sweepkin 2>/dev/null) || return 1
    [ -n "$status" ] && [[ "$status" != *" not-installed" ]]
}
if present; then
    echo "SKIP: a sweepkin package is already installed here; leaving it alone"
    exit 77
fi

fail() { echo "FAIL: $*"; exit 1; }
installed=0
cleanup() { [ "$installed" -eq 1 ] && dpkg -r sweepkin >/dev/null 2>&1 || true; }
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work/home"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { $1=$2=$3=$4=$5=""; sub(/^ +\./, ""); print }')

DEBIAN_FRONTEND=noninteractive dpkg -i "$deb"
installed=1
[ "$(dpkg-query -W -f='${Status}' sweepkin)" = "install ok installed" ] || fail "not installed"
while IFS= read -r f; do
    [ -e "$f" ] || fail "$f missing after install"
done <<<"$files"

output=$(cd "$work/home" && env -i PATH=/usr/bin:/bin HOME="$work/home" \
    XDG_CONFIG_HOME="$work/home/.config" sweepkin --selftest) || fail "--selftest failed"
grep -qxF '  PASS  license text bundled' <<<"$output" || fail "installed agreement text not found"

# The user's own files are not the package's: removal must leave them alone.
mkdir -p "$work/home/.config/Sweepkin"
echo "acceptedEULAv1=true" >"$work/home/.config/Sweepkin/Sweepkin.conf"

dpkg -r sweepkin
installed=0
! present || fail "still known to dpkg after removal: $(dpkg-query -W -f='${Status}' sweepkin)"
while IFS= read -r f; do
    [ ! -e "$f" ] || fail "$f left behind after removal"
done <<<"$files"
for d in /usr/share/sweepkin /usr/share/doc/sweepkin; do
    [ ! -e "$d" ] || fail "$d left behind after removal"
done
[ -f "$work/home/.config/Sweepkin/Sweepkin.conf" ] || fail "removal touched the user's settings"
echo "install and removal OK"
