#!/usr/bin/env bash
# `cmake --install` lays out a complete prefix, and the installed program finds its agreement text
# relative to its own location even after the whole prefix has been moved elsewhere.
#   check_install.sh <build dir> <work dir> <resources source dir>
set -euo pipefail
build=$1 work=$2 resources=$3
id=org.sweepkin.Sweepkin

rm -rf "$work"
mkdir -p "$work/home"
cmake --install "$build" --prefix "$work/prefix" >/dev/null

fail() { echo "FAIL: $*"; exit 1; }

expect=(
    bin/sweepkin
    "share/sweepkin/BETA LICENSE (EULA).txt"
    share/applications/$id.desktop
    share/metainfo/$id.metainfo.xml
    share/man/man1/sweepkin.1.gz
    share/doc/sweepkin/copyright
    share/doc/sweepkin/changelog.gz
)
[ -f "$resources/cache-removal-help.html" ] && expect+=(share/sweepkin/cache-removal-help.html)
for size in 16 22 24 32 48 64 128 256; do
    if [ -f "$resources/icons/$id-$size.png" ]; then
        expect+=(share/icons/hicolor/${size}x${size}/apps/$id.png share/sweepkin/icons/$id-$size.png)
    fi
done
if [ -f "$resources/icons/$id.svg" ]; then
    expect+=(share/icons/hicolor/scalable/apps/$id.svg share/sweepkin/icons/$id.svg)
fi
for f in "${expect[@]}"; do
    [ -f "$work/prefix/$f" ] || fail "missing $f"
done
# Each hicolor size folder must hold an image of exactly that size.
for size in 16 22 24 32 48 64 128 256; do
    png=$work/prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -f "$png" ] || continue
    kind=$(file -b "$png")
    [[ "$kind" == "PNG image data, $size x $size,"* ]] || fail "$png is not ${size}x${size}: $kind"
done
[ -x "$work/prefix/bin/sweepkin" ] || fail "bin/sweepkin is not executable"
gzip -t "$work/prefix/share/man/man1/sweepkin.1.gz" || fail "man page is not gzip"

# Move the prefix and run from an unrelated folder: nothing may point back at the build tree.
mkdir -p "$work/elsewhere"
mv "$work/prefix" "$work/elsewhere/opt-sweepkin"
prefix=$work/elsewhere/opt-sweepkin
selftest() {
    (cd "$work/home" && env -i PATH=/usr/bin:/bin HOME="$work/home" \
        XDG_CONFIG_HOME="$work/home/.config" "$prefix/bin/sweepkin" --selftest)
}

status=0
output=$(selftest) || status=$?
printf '%s\n' "$output"
[ "$status" -eq 0 ] || fail "--selftest exited with $status"
grep -qxF '  PASS  license text bundled' <<<"$output" || fail "agreement text not found"

# Without the installed copy the lookup must come up empty rather than find another one.
rm "$prefix/share/sweepkin/BETA LICENSE (EULA).txt"
output=$(selftest) || true
grep -qxF '  WARN  license text bundled' <<<"$output" ||
    fail "agreement text found somewhere other than the installed prefix"

# The self-test writes nothing, in the home folder or anywhere else.
[ -z "$(ls -A "$work/home")" ] || fail "the self-test wrote into HOME: $(ls -A "$work/home")"
echo "relocated install OK"
