#!/usr/bin/env bash
# Renders the tray icon's PNG sizes from the SVG with Qt's SVG renderer. Run once after editing the
# SVG and commit the PNGs; the build only copies them. Needs qt6-svg-dev and g++.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
tool=$(mktemp -d)
trap 'rm -rf "$tool"' EXIT
g++ -std=c++17 -fPIC render_pngs.cpp -o "$tool/render_pngs" \
    $(pkg-config --cflags --libs Qt6Gui Qt6Svg)
QT_QPA_PLATFORM=offscreen "$tool/render_pngs" org.sweepkin.Sweepkin.svg org.sweepkin.Sweepkin
