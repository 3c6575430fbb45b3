#!/usr/bin/env bash
# How the tray program starts when things are not as they should be: no display, a dead display,
# the agreement refused, no system tray.
#
#   launch_edge_cases.sh PATH/TO/sweepkin ARTIFACTS_DIR
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"
fresh_home

# run_headless NAME ENV...: runs the program with the given environment; records status and stderr.
run_headless() {
    local name=$1
    shift
    set +e
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" timeout 20 "$app" \
        >"$work/$name.out" 2>"$work/$name.err"
    status=$?
    set -e
}

step "no display at all"
run_headless nodisplay
[ "$status" -eq 1 ] || fail "exit status $status without a display (want 1)"
[ "$(wc -l <"$work/nodisplay.err")" -eq 1 ] || fail "want one line on stderr: $(cat "$work/nodisplay.err")"
grep -q '^Sweepkin: no graphical session found' "$work/nodisplay.err" || fail "unclear message"

step "a display nobody serves"
dead=4242
while [ -e "/tmp/.X11-unix/X$dead" ]; do dead=$((dead + 1)); done
run_headless deaddisplay DISPLAY=":$dead"
[ "$status" -eq 1 ] || fail "exit status $status with a dead display (want 1)"
grep -q "cannot connect to the X display \":$dead\"" "$work/deaddisplay.err" ||
    fail "unclear message: $(cat "$work/deaddisplay.err")"

start_x tray

step "refusing the agreement"
launch_app
# Quit is the third button: Tab twice from the default button, then Return.
answer_alert "Sweepkin Beta — License Agreement" 10-agreement-quit Tab Tab Return
wait_for 10 "the program to end" sh -c '! kill -0 "$1" 2>/dev/null' _ "$app_pid"
set +e
wait "$app_pid"
status=$?
set -e
[ "$status" -eq 0 ] || fail "refusing ended with status $status (want 0)"
has_tray_icon && fail "a tray icon appeared although the agreement was refused"
grep -qs 'acceptedEULAv1=true' "$XDG_CONFIG_HOME/Sweepkin/Sweepkin.conf" &&
    fail "refusing stored the acceptance"
[ ! -e "$XDG_CONFIG_HOME/autostart/sweepkin.desktop" ] || fail "refusing registered the login item"

step "no system tray"
for pid in "${pids[@]}"; do
    if ps -o comm= -p "$pid" | grep -q trayer; then kill "$pid"; fi
done
wait_for 10 "the tray to go" sh -c '! xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"'
launch_app
answer_alert "Sweepkin Beta — License Agreement" 11-agreement Return
wait_for 10 "the no-tray notice" grep -q 'no system tray found' "$work/app.log"
[ "$(grep -c 'no system tray found' "$work/app.log")" -eq 1 ] || fail "the notice is repeated"
kill -0 "$app_pid" || fail "the program ended without a tray"
# Without an icon to click, launching again is the way to the panel.
xdotool mousemove 640 300
timeout 20 "$app" >"$work/second.log" 2>&1 || fail "second launch exited with $?"
wait_for 10 "the panel" panel_shows
sleep 0.3
shot 12-panel-without-tray

echo "PASS: launch edge cases"
