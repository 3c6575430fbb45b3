#!/usr/bin/env bash
# The desktop entry and the AppStream metadata pass their validators.
#   check_desktop_files.sh <packaging source dir>
set -euo pipefail
src=$1
id=org.sweepkin.Sweepkin

for tool in desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (desktop-file-utils, appstream)"
        exit 77
    fi
done

desktop-file-validate "$src/$id.desktop"
# Hints are advice, anything else is a finding.
if desktop-file-validate "$src/$id.desktop" | grep -v ': hint: ' | grep .; then
    echo "FAIL: desktop-file-validate reported the lines above"
    exit 1
fi

appstreamcli validate --no-net --pedantic "$src/$id.metainfo.xml"

# The metadata must point at the desktop entry that is actually shipped.
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$src/$id.metainfo.xml"
grep -qx "Icon=$id" "$src/$id.desktop"
grep -qx "Exec=sweepkin" "$src/$id.desktop"
echo "desktop entry and metadata valid"
