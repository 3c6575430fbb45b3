#!/usr/bin/env bash
# watch_e2e.sh PATH/TO/sweepkin ARTIFACTS_DIR: the quiet watch on a private session bus, beside a
# StatusNotifierItem host, a notification service and UPower on mains (bus_stand_ins.py). A home
# whose caches hold 6.4 MB over a threshold of 5 MB: the item's ToolTip, one notice for the growth, its
# "Review" opening the panel, then the weekly clean, which skips a running stand-in Spotify.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"
start_x
fresh_home
# A bus of the run's own, inside its namespaces (whose /tmp may be private); the system bus too.
address=$(dbus-daemon --session --fork --nopidfile --address="unix:path=$work/dbus" --print-address=1)
export DBUS_SESSION_BUS_ADDRESS=$address DBUS_SYSTEM_BUS_ADDRESS=$address SWEEPKIN_TEST_WATCH_MS=1500
bus=$work/bus.log
/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/bus_stand_ins.py" "$bus" 2>"$work/stand-ins.log" &
wait_for 10 "the bus stand-ins" grep -qsx ready "$bus"
conf=$HOME/.config/Sweepkin/Sweepkin.conf
mkdir -p "${conf%/*}" && printf '[General]\nacceptedEULAv1=true\ndidInitialLoginSetup=true\nautoCleanDays=7\nnotifyBytes=5000000\n' >"$conf"
for cache in .cache/google-chrome:2000000 .cache/spotify:3100000 .config/Code/CachedData:1300000; do
    mkdir -p "$HOME/${cache%:*}" && fallocate -l "${cache#*:}" "$HOME/${cache%:*}/data_0"
done
cp /bin/sleep "$work/spotify" && { "$work/spotify" 600 & spotify=$!; }
launch_app

step "the first watch: the tooltip, and one notice (no row seen in the panel, so no clean)"
wait_for 20 "the growth notice" grep -q '^notify 1|' "$bus"
item=$(sed -n 's/^item //p' "$bus")
# gdbus prints the text's em dash and middle dot as "?" in an ordinary login's POSIX locale.
tooltip=$(LC_ALL=C.UTF-8 gdbus call --session --dest "$item" --object-path /StatusNotifierItem --method \
    org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ToolTip)
grep -qE "'Sweepkin — 6 MB of caches · measured [0-2][0-9]:[0-5][0-9]'" <<<"$tooltip" ||
    fail "the item's tooltip: $tooltip"
grep -qxF "notify 1|6 MB of caches could be cleaned|Spotify 3 MB, Google Chrome 2 MB, \
Visual Studio Code 1 MB|review,Review,not-now,Not now" "$bus" || fail "the notice: $(cat "$bus")"

step '"Review" opens the panel, which shows the rows; Escape closes it'
gdbus call --session --dest org.freedesktop.Notifications --object-path \
    /org/freedesktop/Notifications --method org.freedesktop.Notifications.InvokeAction 1 review >/dev/null
wait_for 10 "the panel" panel_is 1
wait_for 30 "the panel's scan" sh -c '! grep -qx "Measuring caches…" "$1"' _ "$dump"
shot 11-review
# A row counts as seen once it has been in view for a second.
wait_for 10 "the rows seen" grep -q '^seenRows=.*google-chrome' "$conf"
xdotool key Escape
wait_for 5 "the panel to close" panel_is 0

step "the next watch cleans the rows seen in the panel, all but the running Spotify"
wait_for 30 "the clean's notice" grep -q '^notify 2|' "$bus"
grep -qxF 'notify 2|Sweepkin freed 3 MB|Cleaned: Google Chrome 2 MB, Visual Studio Code 1 MB\nSkipped: Spotify — running|show-report,Show report' \
    "$bus" || fail "the clean's notice: $(cat "$bus")"
[ ! -e "$HOME/.cache/google-chrome" ] && [ -e "$HOME/.cache/spotify/data_0" ] || fail "cleaned the wrong rows"
kill -0 "$spotify" || fail "the running Spotify was closed"
grep -q '^lastClean=' "$conf" && ! grep -q '^ctCleans=' "$conf" || fail "settings: $(cat "$conf")"
echo "PASS: the watch end to end (screenshots in $artifacts)"
