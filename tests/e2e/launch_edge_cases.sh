#!/usr/bin/env bash
# launch_edge_cases.sh PATH/TO/sweepkin ARTIFACTS_DIR: how the tray program starts when things are
# not as they should be: no display, a dead display, the agreement refused, no tray, a dead copy.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"
fresh_home
export XDG_CONFIG_HOME=$HOME/custom-config  # the other way to say where settings go

# headless WHAT MESSAGE [ENV...]: without a usable display the program prints MESSAGE, in one
# line, and exits with 1.
headless() {
    step "$1"
    local status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${@:3}" timeout 20 "$app" >/dev/null \
        2>"$work/err" || status=$?
    [ "$status" = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -qF "$2" "$work/err" ||
        fail "$1: exit status $status, message: $(cat "$work/err")"
}
headless "no display" "Sweepkin: no graphical session found"
headless "a dead display" 'Sweepkin: cannot connect to the X display ":4242"' DISPLAY=:4242

start_x tray
step "refusing the agreement"
launch_app
# Quit is the third button: Tab twice from the default button, then Return.
answer_alert "Sweepkin Beta — License Agreement" 10-agreement-quit Tab Tab Return
wait_for 10 "the program to end" sh -c '! kill -0 "$1" 2>/dev/null' _ "$app_pid"
wait "$app_pid" || fail "refusing ended with status $? (want 0)"
grep -qs 'acceptedEULAv1=true' "$XDG_CONFIG_HOME/Sweepkin/Sweepkin.conf" && fail "refusing stored the acceptance"
[ ! -e "$XDG_CONFIG_HOME/autostart/sweepkin.desktop" ] || fail "refusing registered the login item"

step "no system tray; a copy that died holding the lock is replaced, and asks nothing again"
kill "$trayer_pid"
wait_for 10 "the tray to go" sh -c '! xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"'
launch_app
answer_alert "Sweepkin Beta — License Agreement" 11-agreement
wait_for 10 "the no-tray notice" grep -qs 'no system tray found' "$work/app.log"
kill -KILL "$app_pid" && wait "$app_pid" || true
launch_app
wait_for 10 "the no-tray notice" grep -qs 'no system tray found' "$work/app.log"
[ "$(grep -c 'no system tray found' "$work/app.log")" = 1 ] || fail "the notice is repeated"
kill -0 "$app_pid" || fail "the program ended without a tray"
grep -qxF "Exec=$app" "$XDG_CONFIG_HOME/autostart/sweepkin.desktop" || fail "no autostart entry"
second_launch  # without an icon to click, launching again is the way to the panel
shot 12-panel-without-tray
echo "PASS: launch edge cases"
