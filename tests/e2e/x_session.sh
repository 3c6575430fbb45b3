# Shared by the end-to-end scripts (sourced): an Xvfb display, an optional tray, a scratch home,
# waiting, screenshots and answering the program's alerts. Every process started here is stopped
# on exit.
#
# The program is started with SWEEPKIN_TEST_DUMP=FILE: after every panel refresh, show and hide
# FILE holds the panel's visible texts (rows as "[x] name — size"), "@visible 0|1" and
# "@clean X Y ENABLED" (the clean button's centre on screen); while an alert is open FILE.alert
# holds its message and its buttons. That lets the scripts check texts without reading pixels.
# The sourcing script's arguments are PATH/TO/sweepkin ARTIFACTS_DIR.

for tool in Xvfb trayer xdotool xwininfo import sha256sum; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

usage="usage: $(basename "$0") PATH/TO/sweepkin ARTIFACTS_DIR"
app=$(readlink -f "${1:?$usage}")
artifacts=${2:?$usage}
mkdir -p "$artifacts" && artifacts=$(readlink -f "$artifacts")

work=$(mktemp -d /tmp/sweepkin-e2e.XXXXXX)
pids=()
dump="$work/panel.txt"
alert="$dump.alert"
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
    if [ -n "${DISPLAY:-}" ]; then import -window root "$artifacts/e2e-failure.png" 2>/dev/null || true; fi
    local f
    for f in "$work"/*.log "$dump"; do
        [ -f "$f" ] && { echo "--- $f:" >&2; cat "$f" >&2; }
    done
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

# start_x [tray]: an X server on a display it picks itself, and trayer when asked.
start_x() {
    step "starting Xvfb${1:+ and trayer}"
    exec 5>"$work/display"
    Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.out" 2>&1 &
    pids+=($!)
    exec 5>&-
    wait_for 10 "the X server" test -s "$work/display"
    export DISPLAY=":$(head -n1 "$work/display")"
    if [ "${1:-}" = tray ]; then
        trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
            --transparent false --tint 0x404040 >"$work/trayer.out" 2>&1 &
        pids+=($!)
        wait_for 10 "the tray" sh -c 'xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"'
    fi
}

# A fresh home, config and runtime folder under the scratch folder.
fresh_home() {
    export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
    export XDG_CACHE_HOME="$work/home/.cache"
    unset XDG_STATE_HOME
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}

# launch_app: starts the program with the panel dump on; sets app_pid.
launch_app() {
    step "launching $app"
    SWEEPKIN_TEST_DUMP="$dump" QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
    app_pid=$!
    pids+=("$app_pid")
}

alert_is() { [ -f "$alert" ] && head -n1 "$alert" | grep -qF -- "$1"; }

# answer_alert MESSAGE_PREFIX SHOT [KEYS...]: waits for the alert, photographs it, then types
# KEYS (default: Return, the default button) until the alert is gone.
answer_alert() {
    local prefix=$1 name=$2
    shift 2
    local keys=("$@")
    [ ${#keys[@]} -gt 0 ] || keys=(Return)
    wait_for 20 "the alert \"$prefix\"" alert_is "$prefix"
    sleep 0.5  # let it map and take the focus
    shot "$name"
    local tries=0
    while alert_is "$prefix"; do
        [ $tries -lt 10 ] || fail "the alert \"$prefix\" does not answer to ${keys[*]}"
        xdotool key --delay 120 "${keys[@]}"
        tries=$((tries + 1))
        sleep 0.6
    done
}

# Our windows of tray-icon size (the icon embedded in the tray).
tray_icon_lines() {
    xwininfo -root -tree | grep -F '("sweepkin" "Sweepkin")' | grep -E ' (1[0-9]|[2-5][0-9]|6[0-4])x' || true
}
tray_icon_centre() {
    tray_icon_lines |
        sed -nE 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4/p' |
        awk '{ print int($3 + $1 / 2), int($4 + $2 / 2); exit }'
}
panel_shows() { [ -f "$dump" ] && grep -qx "@visible 1" "$dump"; }
panel_hidden() { [ -f "$dump" ] && grep -qx "@visible 0" "$dump"; }
has_tray_icon() { [ -n "$(tray_icon_lines)" ]; }
