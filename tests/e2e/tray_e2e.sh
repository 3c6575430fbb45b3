#!/usr/bin/env bash
# tray_e2e.sh PATH/TO/sweepkin ARTIFACTS_DIR: the agreement, the tray icon, the panel, a clean of
# four caches (native, snap, macOS-style) beside profile files and links planted in Flatpak folders
# that must survive, the report, the log, the empty panel after, a second launch. Stand-ins: the
# clean closes Spotify's and Code's; a "chrome" outside Google's folder is not Chrome and runs on.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"
start_x tray
fresh_home
fill() { mkdir -p "$(dirname "$1")" && head -c "$2" /dev/urandom >"$1"; }  # fill FILE BYTES
config=$HOME/.config
caches=("$HOME/Library/Caches/CloudKit" "$HOME/.cache/google-chrome"
        "$HOME/snap/spotify/common/.cache/spotify" "$config/Code/CachedData")
decoys=("$config/google-chrome/Default/Cookies" "$config/google-chrome/Local State"
        "$config/Code/User/settings.json" "$HOME/Music/spotify/track.ogg")
for dir in "${caches[@]}"; do fill "$dir/data_0" 1200000 && fill "$dir/sub/data_1" 50000; done
for file in "${decoys[@]}"; do fill "$file" 20000; done
# Links that sandboxed applications could plant in their own folders: nothing behind them goes.
mkdir -p "$HOME/.var/app/com.google.Chrome" "$HOME/.var/app/com.spotify.Client"
ln -s "$config" "$HOME/.var/app/com.google.Chrome/cache"
ln -s "$HOME/Music" "$HOME/.var/app/com.spotify.Client/cache"
decoy_sums=$(sha256sum "${decoys[@]}")
declare -A stand_in
for name in spotify code chrome; do cp /bin/sleep "$work/$name" && { "$work/$name" 600 & stand_in[$name]=$!; }; done

launch_app
answer_alert "Sweepkin Beta — License Agreement" 01-agreement
wait_for 5 "the stored acceptance" grep -qs "acceptedEULAv1=true" "$config/Sweepkin/Sweepkin.conf"
wait_for 15 "the tray icon" has_tray_icon
read -r icon_x icon_y < <(tray_icons)
shot 02-tray
grep -q 'no system tray found' "$work/app.log" && fail "claims there is no tray although trayer runs"

# open_panel: a click on the icon, then the scan it starts; sets clean_x clean_y.
open_panel() {
    step "opening the panel"
    xdotool mousemove "$icon_x" "$icon_y" click 1
    wait_for 15 "the panel" panel_is 1
    wait_for 30 "the scan" sh -c '! grep -qx "Measuring caches…" "$1"' _ "$dump"
    read -r _ clean_x clean_y _ < <(grep '^@clean ' "$dump")
}
open_panel
rows="[x] iCloud (CloudKit) cache — 1 MB|[x] Google Chrome — 1 MB|[x] Spotify — 1 MB|[x] Visual Studio Code — 1 MB"
[ "$(grep '^\[' "$dump" | paste -sd'|')" = "$rows" ] || fail "rows: $(grep '^\[' "$dump")"
total=$(sed -n 's/ of caches found$//p' "$dump")
grep -qxF "Clean Selected ($total)" "$dump" || fail "the clean button does not offer $total"
grep -qE "^Sweepkin — $total of caches · measured [0-9]{2}:[0-9]{2}$" "$dump.tray" || fail "tooltip: $(cat "$dump.tray")"
shot 03-panel-rows

step "cleaning: Escape cancels, then Return confirms"
xdotool mousemove "$clean_x" "$clean_y" click 1
answer_alert "Clean 4 selected caches ($total)?" 04-confirm Escape
[ -e "${caches[0]}/sub/data_1" ] || fail "cancelling removed a cache"
open_panel
xdotool mousemove "$clean_x" "$clean_y" click 1
answer_alert "Clean 4 selected caches ($total)?" 04-confirm
answer_alert "Done — cleared " 05-done
for dir in "${caches[@]}"; do [ ! -e "$dir" ] || fail "cache still there: $dir"; done
[ "$(sha256sum "${decoys[@]}")" = "$decoy_sums" ] || fail "a profile file changed"
for name in spotify code; do wait_for 5 "$name to close" sh -c '! kill -0 "$1" 2>/dev/null' _ "${stand_in[$name]}"; done
kill -0 "${stand_in[chrome]}" || fail "a \"chrome\" outside Google's folder was closed"
state=$HOME/.local/state/Sweepkin
grep -q '^# Sweepkin — Cleanup Report$' "$state/last_cleanup_report.md" || fail "no cleanup report"
[ "$(grep -c '^- .*: cleared ' "$state/last_cleanup_report.md")" = 4 ] || fail "report without four targets"
wait_for 5 "the log line" grep -q 'Cleaned 4 target(s), freed ' "$state/Sweepkin.log"
grep -q 'License agreement accepted (v1)\.$' "$state/Sweepkin.log" || fail "agreement not logged"
litter=$(find "$HOME/Library" -mindepth 1 ! -path "$HOME/Library/Caches")
[ -z "$litter" ] || fail "written under ~/Library: $litter"
grep -qxF "Exec=$app" "$config/autostart/sweepkin.desktop" || fail "no autostart entry for $app"

open_panel
grep -qx "No caches found — everything is already clean ✓" "$dump" && grep -qx "Clean Selected (0 B)" "$dump" ||
    fail "after the clean: $(cat "$dump")"
shot 06-panel-clean

step "a second launch opens the running copy's panel, without a second icon"
second_launch
[ "$(tray_icons | wc -l)" = 1 ] && kill -0 "$app_pid" || fail "not one icon of the first copy"
echo "PASS: end-to-end tray run (screenshots in $artifacts)"
