# Sourced by the end-to-end scripts (PATH/TO/sweepkin ARTIFACTS_DIR): an X server, a tray, a
# scratch home, waiting, screenshots, answering alerts; all stopped on exit. With
# SWEEPKIN_TEST_DUMP=FILE the program writes the panel's texts ("[x] name — size" rows,
# "@visible 0|1", "@clean X Y ENABLED") to FILE and the open alert to FILE.alert.
# A process namespace of its own keeps the developer's browser out of reach. An ordinary user gets
# it in a user namespace, where root's folders belong to no one the run knows (and Sweepkin leaves
# a home below them alone): so the run also gets a root folder of its own, a tmpfs over /mnt.
# An ordinary user's login PATH leaves out the system folders that hold pivot_root.
PATH=$PATH:/usr/sbin:/sbin
if [ $$ != 1 ]; then
    own_pids=(unshare --pid --mount-proc --kill-child)
    [ "$(id -u)" = 0 ] || own_pids=(unshare --user --map-root-user --mount --pid --mount-proc --kill-child)
    "${own_pids[@]}" true 2>/dev/null || { echo "SKIP: no private process namespace here" >&2; exit 77; }
    exec "${own_pids[@]}" "$0" "$@"
fi
app=$(readlink -f "${1:?usage: $0 PATH/TO/sweepkin ARTIFACTS_DIR}")
mkdir -p "${2:?}" && artifacts=$(readlink -f "$2")
if [ "$(stat -c %u /)" != "$(id -u)" ] && [ "$(stat -c %u /)" != 0 ]; then
    root=/mnt
    mount -t tmpfs -o mode=755 none "$root" || { echo "SKIP: no root folder of our own" >&2; exit 77; }
    for dir in /usr /bin /sbin /lib /lib32 /lib64 /libx32 /etc /opt /var /dev /sys; do
        if [ -L "$dir" ]; then
            ln -s "$(readlink "$dir")" "$root$dir"
        elif [ -d "$dir" ]; then
            mkdir "$root$dir" && mount --rbind "$dir" "$root$dir"
        fi
    done
    # The program, its files, these scripts and the artifacts, where they are; a checkout under
    # /tmp makes the new root's /tmp on the way, so it is made with -p and opened to all after.
    for dir in "$(dirname "$app")" "$artifacts" "$(readlink -f "$(dirname "${BASH_SOURCE[0]}")")"; do
        mkdir -p "$root$dir" && mount --bind "$dir" "$root$dir"
    done
    mkdir -p "$root/tmp" "$root/run" && chmod 1777 "$root/tmp" "$root/run" &&
        mkdir "$root/proc" "$root/.old" &&
        mount -t proc proc "$root/proc" && cd "$root" && pivot_root . .old && umount -l /.old &&
        rmdir /.old && cd / || { echo "FAIL: cannot move to a root folder of our own" >&2; exit 1; }
    export TMPDIR=/tmp
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/sweepkin-e2e.XXXXXX")
dump=$work/panel.txt
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT

step() { echo "== $*"; }
shot() { sleep 0.4 && import -window root "$artifacts/e2e-$1.png"; }
fail() {
    echo "FAIL: $*" >&2
    [ -z "${DISPLAY:-}" ] || import -window root "$artifacts/e2e-failure.png" || true
    for f in "$work"/*.log "$dump"; do [ -f "$f" ] && { echo "--- $f:"; cat "$f"; } >&2; done
    exit 1
}
wait_for() {  # wait_for SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do [ $SECONDS -lt $deadline ] && sleep 0.1 || fail "timed out waiting for $what"; done
}

# start_x [tray]: an X server, and trayer (trayer_pid) when asked. The display number is drawn at
# random, away from the low ones other runs take; -noreset: the probes' hang-ups must not reset it.
start_x() {
    local n=$((100 + RANDOM % 800))
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    export DISPLAY=:$n
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    wait_for 10 "the X server" sh -c 'xwininfo -root >/dev/null 2>&1'
    [ "${1:-}" = tray ] || return 0
    trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
        --transparent false --tint 0x404040 >"$work/trayer.log" 2>&1 &
    trayer_pid=$!
    wait_for 10 "the tray" sh -c 'xwininfo -root -tree | grep -q "(\"panel\" \"trayer\")"'
}

fresh_home() {  # a scratch home, with the default XDG folders under it
    export HOME=$work/home XDG_RUNTIME_DIR=$work/run
    unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_STATE_HOME
    mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
}

launch_app() {  # sets app_pid
    rm -f "$work/app.log"  # so that no one reads the last run's output
    SWEEPKIN_TEST_DUMP="$dump" QT_QPA_PLATFORM=xcb "$app" >"$work/app.log" 2>&1 &
    app_pid=$!
}
second_launch() {  # a later launch hands over to the running copy, which shows its panel
    timeout 20 "$app" >"$work/second.log" 2>&1 || fail "second launch exited with $?"
    wait_for 10 "the panel from the second launch" panel_is 1
}

alert_is() { head -qn1 "$dump.alert" 2>/dev/null | grep -qF -- "$1"; }
# answer_alert MESSAGE_PREFIX SHOT [KEYS...]: waits for the alert, photographs it, then types
# KEYS (default: Return, the default button) until the alert is gone.
answer_alert() {
    local prefix=$1 name=$2 tries=0
    shift 2
    wait_for 20 "the alert \"$prefix\"" alert_is "$prefix"
    shot "$name"
    while alert_is "$prefix"; do
        [ $((tries++)) -lt 10 ] || fail "the alert \"$prefix\" does not answer to ${*:-Return}"
        xdotool key --delay 120 "${@:-Return}"
        sleep 0.6
    done
}

# The centres "X Y" of our windows of tray-icon size (icons embedded in the tray), one a line.
tray_icons() {
    xwininfo -root -tree | grep -F '("sweepkin" "Sweepkin")' | awk '{ for (i = 1; i < NF; i++)
        if ($i ~ /^[0-9]+x[0-9]+\+/ && split($i, s, /[x+]/) && s[1] >= 10 && s[1] <= 64 &&
            split($(i + 1), p, "+") == 3) print int(p[2] + s[1] / 2), int(p[3] + s[2] / 2) }'
}
has_tray_icon() { [ -n "$(tray_icons)" ]; }
panel_is() { grep -qsx "@visible $1" "$dump"; }  # panel_is 1: shown; panel_is 0: hidden
