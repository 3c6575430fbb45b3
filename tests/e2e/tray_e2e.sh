#!/usr/bin/env bash
# End to end on a real X server: first-run agreement, tray icon, panel, a clean of four fake
# caches in a Linux home (native, snap, and one macOS-style folder; profile files beside them
# must survive), the report, the log, nothing written under ~/Library, the empty panel after, and
# a second launch that opens the running copy's panel instead of adding an icon.
#
#   tray_e2e.sh PATH/TO/sweepkin ARTIFACTS_DIR
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"
start_x tray

# --- a fresh Linux home with four caches and profile files that must survive --------------------
step "preparing a temporary home"
fresh_home
chrome="$XDG_CONFIG_HOME/google-chrome/Default"
caches=("$HOME/Library/Caches/CloudKit" "$XDG_CACHE_HOME/google-chrome"
        "$HOME/snap/spotify/common/.cache/spotify" "$XDG_CONFIG_HOME/Code/CachedData")
for dir in "${caches[@]}"; do
    mkdir -p "$dir/sub"
    head -c 1200000 /dev/urandom >"$dir/data_0"
    head -c 50000 /dev/urandom >"$dir/sub/data_1"
done
decoys=("$chrome/Cookies" "$XDG_CONFIG_HOME/google-chrome/Local State"
        "$XDG_CONFIG_HOME/Code/User/settings.json")
for file in "${decoys[@]}"; do
    mkdir -p "$(dirname "$file")"
    head -c 20000 /dev/urandom >"$file"
done
decoy_sums=$(sha256sum "${decoys[@]}")

# --- launch; accept the agreement ---------------------------------------------------------------
launch_app

answer_alert "Sweepkin Beta — License Agreement" 01-agreement
wait_for 5 "the stored acceptance" grep -qs "acceptedEULAv1=true" "$XDG_CONFIG_HOME/Sweepkin/Sweepkin.conf"
step "agreement accepted"

# --- the tray icon: a small window of ours embedded under trayer --------------------------------
wait_for 15 "the tray icon" has_tray_icon
read -r icon_x icon_y < <(tray_icon_centre)
[ -n "${icon_x:-}" ] || fail "no tray icon under trayer"
shot 02-tray
grep -q 'no system tray found' "$work/app.log" && fail "claims there is no tray although trayer runs"
scan_done() { panel_shows && ! grep -qx "Measuring caches…" "$dump"; }

step "opening the panel"
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 15 "the panel" panel_shows
wait_for 30 "the scan" scan_done
rows=$(grep -c '^\[x\] ' "$dump" || true)
[ "$rows" -eq 4 ] || fail "expected four ticked rows, found $rows"
for name in "iCloud (CloudKit) cache" "Google Chrome" "Spotify" "Visual Studio Code"; do
    grep -qF "[x] $name — " "$dump" || fail "no $name row"
done
grep -q '^Clean Selected (' "$dump" || fail "no clean button label"
sleep 0.3
shot 03-panel-rows

# --- clean ------------------------------------------------------------------------------------
step "cleaning"
read -r _ clean_x clean_y clean_enabled < <(grep '^@clean ' "$dump")
[ "$clean_enabled" = 1 ] || fail "the clean button is disabled"
xdotool mousemove "$clean_x" "$clean_y" click 1
answer_alert "Clean 4 selected caches (" 04-confirm
answer_alert "Done — cleared " 05-done

for dir in "${caches[@]}"; do
    [ ! -e "$dir" ] || fail "cache still there: $dir"
done
[ "$(sha256sum "${decoys[@]}")" = "$decoy_sums" ] || fail "a profile file changed"
report="$HOME/.local/state/Sweepkin/last_cleanup_report.md"
[ -f "$report" ] || fail "no cleanup report"
grep -q '^# Sweepkin — Cleanup Report$' "$report" || fail "report has no title"
[ "$(grep -c '^- .*: cleared ' "$report")" -eq 4 ] || fail "report does not list four targets"
log="$HOME/.local/state/Sweepkin/Sweepkin.log"
wait_for 5 "the log line" grep -q 'Cleaned 4 target(s), freed ' "$log"
litter=$(find "$HOME/Library" -mindepth 1 ! -path "$HOME/Library/Caches")
[ -z "$litter" ] || fail "written under ~/Library: $litter"
grep -q 'License agreement accepted (v1)\.$' "$log" || fail "agreement not logged"
grep -q '^Exec=' "$XDG_CONFIG_HOME/autostart/sweepkin.desktop" || fail "no autostart entry"

# --- reopen: nothing left to clean -----------------------------------------------------------
step "reopening the panel"
if panel_shows; then xdotool key Escape; wait_for 5 "the panel to close" panel_hidden; fi
sleep 0.4
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 15 "the panel" panel_shows
wait_for 30 "the rescan" sh -c 'grep -qx "No caches found — everything is already clean ✓" "$1"' _ "$dump"
sleep 0.3
shot 06-panel-clean

# --- a click on the icon closes it; a second launch opens it without a second icon ----------
step "second launch"
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 5 "the panel to close" panel_hidden
sleep 0.4
SWEEPKIN_TEST_DUMP="$dump.second" timeout 20 "$app" >"$work/second.log" 2>&1 ||
    fail "second launch exited with $? ($(cat "$work/second.log"))"
wait_for 10 "the panel from the second launch" panel_shows
icons=$(tray_icon_lines | grep -c . || true)
[ "$icons" -eq 1 ] || fail "expected one tray icon, found $icons"
kill -0 "$app_pid" || fail "the first instance went away"
shot 07-second-launch

echo "PASS: end-to-end tray run (screenshots in $artifacts)"
