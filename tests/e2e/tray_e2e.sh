#!/usr/bin/env bash
# End to end on a real X server: first-run agreement, tray icon, panel, a clean of three fake
# caches (a profile file beside them must survive), the report, the log, the empty panel after,
# and a second launch that opens the running copy's panel instead of adding an icon.
#
#   tray_e2e.sh PATH/TO/sweepkin ARTIFACTS_DIR
#
# Needs Xvfb, trayer, xdotool, xwininfo (x11-utils) and import (imagemagick).
set -euo pipefail

app=${1:?usage: tray_e2e.sh PATH/TO/sweepkin ARTIFACTS_DIR}
artifacts=${2:?usage: tray_e2e.sh PATH/TO/sweepkin ARTIFACTS_DIR}
app=$(readlink -f "$app")
mkdir -p "$artifacts"
artifacts=$(readlink -f "$artifacts")

for tool in Xvfb trayer xdotool xwininfo import sha256sum; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d /tmp/sweepkin-e2e.XXXXXX)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

step() { echo "== $*"; }
fail() {
    echo "FAIL: $*" >&2
    [ -n "${DISPLAY:-}" ] && import -window root "$artifacts/e2e-failure.png" 2>/dev/null || true
    [ -f "$work/app.log" ] && { echo "--- app output:" >&2; cat "$work/app.log" >&2; }
    [ -f "$dump" ] && { echo "--- panel dump:" >&2; cat "$dump" >&2; }
    exit 1
}
# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what"
        sleep 0.1
    done
}
shot() { import -window root "$artifacts/e2e-$1.png"; }

# --- X server (it picks a free display itself) and a system tray -------------------------------
step "starting Xvfb and trayer"
exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 5>&-
wait_for 10 "the X server" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
    --transparent false --tint 0x404040 >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 10 "the tray" sh -c 'xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"'

# --- a fresh home with three caches and a profile file that must survive ------------------------
step "preparing a temporary home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
chrome="$HOME/Library/Application Support/Google/Chrome/Default"
caches=("$HOME/Library/Caches/CloudKit" "$chrome/Cache" "$HOME/Library/Application Support/Code/CachedData")
for dir in "${caches[@]}"; do
    mkdir -p "$dir/sub"
    head -c 1200000 /dev/urandom >"$dir/data_0"
    head -c 50000 /dev/urandom >"$dir/sub/data_1"
done
head -c 20000 /dev/urandom >"$chrome/Cookies"
decoy_sum=$(sha256sum "$chrome/Cookies" | cut -d' ' -f1)

# --- launch; accept the agreement ---------------------------------------------------------------
dump="$work/panel.txt"
alert="$dump.alert"
step "launching $app"
SWEEPKIN_TEST_DUMP="$dump" QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
app_pid=$!
pids+=("$app_pid")

# answer_alert MESSAGE_PREFIX SHOT: waits for the alert, photographs it, presses its default
# button (Return) until the alert is gone.
answer_alert() {
    local prefix=$1 name=$2
    wait_for 20 "the alert \"$prefix\"" sh -c '[ -f "$1" ] && head -n1 "$1" | grep -qF -- "$2"' _ "$alert" "$prefix"
    sleep 0.5  # let it map and take the focus
    shot "$name"
    local tries=0
    while [ -f "$alert" ] && head -n1 "$alert" | grep -qF -- "$prefix"; do
        [ $tries -lt 20 ] || fail "the alert \"$prefix\" does not take Return"
        xdotool key Return
        tries=$((tries + 1))
        sleep 0.5
    done
}

answer_alert "Sweepkin Beta — License Agreement" 01-agreement
step "agreement accepted"

# --- the tray icon: a small window of ours embedded under trayer --------------------------------
tray_icon_centre() {
    xwininfo -root -tree | grep -F '("sweepkin" "Sweepkin")' |
        sed -nE 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/p' |
        awk '$1 <= 64 && $2 <= 64 { print int($3 + $1 / 2), int($4 + $2 / 2); exit }'
}
wait_for 15 "the tray icon" sh -c "xwininfo -root -tree | grep -F '(\"sweepkin\" \"Sweepkin\")' | grep -qE ' (1[0-9]|[2-5][0-9]|6[0-4])x'"
read -r icon_x icon_y < <(tray_icon_centre)
[ -n "${icon_x:-}" ] || fail "no tray icon under trayer"
shot 02-tray
panel_shows() { [ -f "$dump" ] && grep -qx "@visible 1" "$dump"; }
panel_hidden() { [ -f "$dump" ] && grep -qx "@visible 0" "$dump"; }
scan_done() { panel_shows && ! grep -qx "Measuring caches…" "$dump"; }

step "opening the panel"
xdotool mousemove "$icon_x" "$icon_y" click 1
wait_for 15 "the panel" panel_shows
wait_for 30 "the scan" scan_done
rows=$(grep -c '^\[x\] ' "$dump" || true)
[ "$rows" -eq 3 ] || fail "expected three ticked rows, found $rows"
grep -q '^\[x\] Google Chrome — ' "$dump" || fail "no Google Chrome row"
grep -q '^\[x\] Visual Studio Code — ' "$dump" || fail "no Visual Studio Code row"
grep -q '^Clean Selected (' "$dump" || fail "no clean button label"
sleep 0.3
shot 03-panel-rows

# --- clean ------------------------------------------------------------------------------------
step "cleaning"
read -r _ clean_x clean_y clean_enabled < <(grep '^@clean ' "$dump")
[ "$clean_enabled" = 1 ] || fail "the clean button is disabled"
xdotool mousemove "$clean_x" "$clean_y" click 1
answer_alert "Clean 3 selected caches (" 04-confirm
answer_alert "Done — cleared " 05-done

for dir in "${caches[@]}"; do
    [ ! -e "$dir" ] || fail "cache still there: $dir"
done
[ "$(sha256sum "$chrome/Cookies" | cut -d' ' -f1)" = "$decoy_sum" ] || fail "the profile file changed"
report="$HOME/Library/Application Support/Sweepkin/last_cleanup_report.md"
[ -f "$report" ] || fail "no cleanup report"
grep -q '^# Sweepkin — Cleanup Report$' "$report" || fail "report has no title"
[ "$(grep -c '^- .*: cleared ' "$report")" -eq 3 ] || fail "report does not list three targets"
log="$HOME/Library/Logs/Sweepkin.log"
wait_for 5 "the log line" grep -q 'Cleaned 3 target(s), freed ' "$log"
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
icons=$(xwininfo -root -tree | grep -F '("sweepkin" "Sweepkin")' | grep -cE ' (1[0-9]|[2-5][0-9]|6[0-4])x' || true)
[ "$icons" -eq 1 ] || fail "expected one tray icon, found $icons"
kill -0 "$app_pid" || fail "the first instance went away"
shot 07-second-launch

echo "PASS: end-to-end tray run (screenshots in $artifacts)"
