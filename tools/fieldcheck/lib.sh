# shellcheck shell=bash
# fieldcheck/lib.sh - what tools/verify-real-*.sh share, sourced by both: a fresh HOME and the
# clean environment programs run in, a loopback-only network, an X display, the probe server,
# waiting and stopping, the self-test, the removal step and the before/after comparison against
# expected-caches.txt. A script defines, for each application APP it knows:
#   needs_APP     (optional) fc_need the programs it uses
#   populate_APP  let the application write its files in the fresh HOME; 0 when it worked
#   check_APP     after the removal: 0 when the application still works on what is left
# and its rows in expected-caches.txt. Then it calls the steps in order:
#   fc_start "$@"; fc_populate_all; fc_selftest; fc_list before; fc_removal; fc_list after;
#   fc_compare; fc_check_all; fc_result
# Programs that must run in a fresh network namespace or D-Bus session run as "fc_inside FUNCTION
# ARGS...": the script runs again (a copy taken at the start) and calls FUNCTION there.

FC_LIB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FC_PYTHON=/usr/bin/python3
FC_TABLE=$FC_LIB/expected-caches.txt
FC_ENV_EXTRA=()      # the script's additions to the clean environment (NAME=VALUE)
FC_DISPLAY=""        # the private X display, once fc_start_xvfb has made one
FC_KIDS=""           # what this shell started, stopped when it exits
FC_UNSHARE=""        # "unshare -n" where a loopback-only network namespace can be made
declare -A FC_RESULT

fc_log() { printf '[verify %s] %s\n' "$(date +%H:%M:%S)" "$*"; }
fc_die() { echo "$*" >&2; exit 2; }
fc_need() { # fc_need PROGRAM... : exit 2 unless each is on PATH
    local p
    for p; do command -v "$p" >/dev/null 2>&1 || fc_die "$p missing (see the header for apt-get install)"; done
}

fc_wait_for() { # fc_wait_for SECONDS COMMAND... : poll until the command succeeds
    local n=$(($1 * 5))
    shift
    while ((n-- > 0)); do "$@" && return 0; sleep 0.2; done
    return 1
}

# ---- processes: only what this run started, recorded with its start time so that a pid reused by
# someone else's process is never signalled ---------------------------------------------------------
fc_starttime() { local s; s=$(cat "/proc/$1/stat" 2>/dev/null) || return 1; s=${s##*) }; set -- $s; echo "${20}"; }
fc_record() { # fc_record PID... : ours, stopped at the end if still running
    local p t
    for p; do
        t=$(fc_starttime "$p") || continue
        grep -qx "$p $t" "$WORK/pids" 2>/dev/null || echo "$p $t" >> "$WORK/pids"
    done
}
fc_descendants() { # all descendant pids of $1, one per line
    ps -e -o pid=,ppid= 2>/dev/null | awk -v root="$1" '
        { kids[$2] = kids[$2] " " $1 }
        END { n = split(kids[root], q, " "); i = 1
              while (i <= n) { p = q[i++]; print p; m = split(kids[p], c, " "); for (j = 1; j <= m; j++) q[++n] = c[j] } }'
}
fc_record_tree() { # a pid, its descendants, and helpers re-parented to init that carry our temp path
    local p
    for p in "$1" $(fc_descendants "$1") $(pgrep -f -- "$WORK/" 2>/dev/null); do
        [ "$p" = "$$" ] || fc_record "$p"
    done
}
fc_stop_pid() { # fc_stop_pid PID SECONDS : TERM, then KILL after SECONDS
    kill -0 "$1" 2>/dev/null || { wait "$1" 2>/dev/null; return 0; }
    fc_record_tree "$1"
    kill -TERM "$1" 2>/dev/null
    fc_wait_for "$2" eval "! kill -0 $1 2>/dev/null" ||
        { fc_log "pid $1 ignored SIGTERM for $2 s, sending SIGKILL"; kill -KILL "$1" 2>/dev/null; }
    wait "$1" 2>/dev/null
    return 0
}
fc_kill_recorded() {
    local p t
    while read -r p t; do
        [ "$(fc_starttime "$p")" = "$t" ] && kill -KILL "$p" 2>/dev/null
    done < <(cat "$WORK/pids" 2>/dev/null)
}

# ---- the fresh HOME and its environment -------------------------------------------------------------
# Runs a command with the fresh HOME, no XDG_*, a private TMPDIR and nothing else of the caller's.
fc_env_args() {
    FC_ENV_ARGS=(HOME="$VHOME" PATH="/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin" USER="$(id -un)"
                 LOGNAME="$(id -un)" LANG=C.UTF-8 TMPDIR="$WORK/tmp" ${FC_DISPLAY:+DISPLAY=$FC_DISPLAY}
                 "${FC_ENV_EXTRA[@]}")
}
fc_env() { fc_env_args; env -i "${FC_ENV_ARGS[@]}" "$@"; }
fc_spawn() { # fc_spawn OUT ERR COMMAND... : fc_env in the background; FC_PID is the program itself
    fc_env_args
    env -i "${FC_ENV_ARGS[@]}" "${@:3}" >"$1" 2>"$2" &
    FC_PID=$!
    fc_record "$FC_PID"
}
fc_offline() { fc_env $FC_UNSHARE "$@"; } # fc_env in a namespace of its own with only loopback
fc_inside() { # fc_inside FUNCTION ARGS... : FUNCTION of this script, offline, in a fresh process
    fc_env FC_WORK="$WORK" RUN_TIMEOUT="$RUN_TIMEOUT" $FC_UNSHARE bash "$FC_SELF" --inside "$@"
}
fc_session() { # fc_session FUNCTION ARGS... : FUNCTION in a private D-Bus session bus
    dbus-run-session -- bash "$FC_SELF" --inside "$@" 2>>"$LOGS/dbus.log"
}
fc_have_netns() { command -v unshare >/dev/null 2>&1 && unshare -n true 2>/dev/null; }
fc_enter_netns() { # fc_enter_netns "$@" : run the whole script in a loopback-only namespace
    if [ -z "${FC_IN_NETNS:-}" ]; then
        if fc_have_netns; then FC_IN_NETNS=1 exec unshare -n -- bash "$0" "$@"; fi
        echo "note: cannot create a private network namespace; relying on the programs' flags only" >&2
    else
        ip link set lo up 2>/dev/null
    fi
}

# ---- X display and probe server ----------------------------------------------------------------------
fc_start_xvfb() { # fc_start_xvfb [GEOMETRY] : a display number nobody uses (the socket folder is shared)
    local n
    for ((n = 200 + RANDOM % 50; n < 400; n++)); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 "${1:-1024x768x24}" -nolisten tcp 2>>"$LOGS/xvfb.log" &
    FC_KIDS="$FC_KIDS $!"
    fc_record $!
    fc_wait_for 20 test -e "/tmp/.X11-unix/X$n" || fc_die "Xvfb did not start (see $LOGS/xvfb.log)"
    FC_DISPLAY=":$n"
    export DISPLAY=$FC_DISPLAY
}
fc_start_server() { # fc_start_server ROOT [PORT] : the probe site on 127.0.0.1, sets PORT
    rm -f "$WORK/port"
    "$FC_PYTHON" "$FC_LIB/probe.py" serve "$1" "$REPORT" "$WORK/port" ${2:-} 2>>"$LOGS/server.log" &
    FC_KIDS="$FC_KIDS $!"
    fc_record $!
    fc_wait_for 20 test -s "$WORK/port" || fc_die "server did not start (see $LOGS/server.log)"
    PORT=$(cat "$WORK/port")
}
fc_seen() { "$FC_PYTHON" "$FC_LIB/probe.py" seen "$REPORT" "$@"; } # fc_seen KIND APP PHASE
fc_judge() { "$FC_PYTHON" "$FC_LIB/probe.py" judge "$REPORT" "$@"; } # fc_judge APP PHASE
fc_fixture() { "$FC_PYTHON" "$FC_LIB/fixtures.py" "$@" || fc_die "fixture generation failed: $*"; }

# ---- start: arguments, applications, the scratch folder ---------------------------------------------
fc_paths() {
    VHOME=$WORK/home LOGS=$WORK/logs FIX=$WORK/fixtures REPORT=$WORK/report.jsonl
}
fc_stop_kids() { local k; for k in $FC_KIDS; do kill -TERM "$k" 2>/dev/null; done; wait 2>/dev/null; }
fc_cleanup() {
    fc_stop_kids
    fc_kill_recorded
    [ "$FC_X11_EXISTED" = 0 ] && rmdir /tmp/.X11-unix 2>/dev/null
    # Bazel's tree artifacts and Go's modules are read-only folders, which an ordinary user
    # cannot empty without giving them write permission back (chmod -R skips the links inside)
    if [ "${KEEP:-0}" = 1 ]; then echo "kept: $WORK"; else chmod -R u+w "$WORK" 2>/dev/null; rm -rf "$WORK"; fi
}
fc_table() { # fc_table APP KIND : the values of that application's rows of that kind
    awk -v a="$1" -v k="$2" '$1 == a && $2 == k { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print }' "$FC_TABLE"
}

# fc_start "$@" : in a run of FUNCTION (fc_inside, fc_session) calls it and exits with its status;
# otherwise checks the arguments and the applications in FC_APPS and makes the scratch folder.
fc_start() {
    if [ "${1:-}" = --inside ]; then
        WORK=$FC_WORK FC_SELF=$0
        fc_paths
        ip link set lo up 2>/dev/null
        trap fc_stop_kids EXIT
        "${@:2}"
        exit
    fi
    [ $# -ge 1 ] || fc_die "usage: $0 SWEEPKIN_BINARY   (env CLEAN_CMD='...' to run a removal step)"
    SWEEPKIN=$1
    case "$SWEEPKIN" in /*) ;; *) SWEEPKIN="$(cd "$(dirname "$SWEEPKIN")" && pwd)/$(basename "$SWEEPKIN")" ;; esac
    [ -x "$SWEEPKIN" ] || fc_die "not an executable: $SWEEPKIN"
    RUN_TIMEOUT=${RUN_TIMEOUT:-90}
    fc_need "$FC_PYTHON"
    local app
    for app in $FC_APPS; do
        declare -F "populate_$app" >/dev/null || fc_die "unknown application $app"
        [ -n "$(fc_table "$app" cache)" ] || fc_die "$app has no cache rows in $FC_TABLE"
        if declare -F "needs_$app" >/dev/null; then "needs_$app"; fi
    done
    if [ -z "${FC_IN_NETNS:-}" ]; then
        if fc_have_netns; then FC_UNSHARE="unshare -n"; else
            echo "note: cannot create a private network namespace; offline runs keep the network" >&2
        fi
    fi
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/sweepkin-$(basename "$0" .sh).XXXXXX") || exit 2
    fc_paths
    mkdir -p "$VHOME" "$LOGS" "$FIX" "$WORK/tmp" "$WORK/bin"
    : > "$REPORT"
    FC_X11_EXISTED=1
    [ -d /tmp/.X11-unix ] || FC_X11_EXISTED=0
    trap fc_cleanup EXIT
    trap 'exit 3' INT TERM HUP
    # later runs of the script's functions use this copy, so editing the files mid-run is safe
    cp -r "$FC_LIB" "$WORK/bin/fieldcheck" && cp "$0" "$WORK/bin/" || exit 2
    FC_SELF=$WORK/bin/$(basename "$0")
    FC_LIB=$WORK/bin/fieldcheck
}

# ---- the steps ----------------------------------------------------------------------------------------
fc_populate_all() {
    local app
    for app in $FC_APPS; do
        fc_log "$app: populating"
        # not in a $(...) subshell: a populate step may keep state for its check
        "populate_$app" > "$LOGS/$app-populate.txt" 2>&1 ||
            FC_RESULT[$app]="FAIL  $app did not work on a fresh HOME (before any removal)"
        sed 's/^/    /' "$LOGS/$app-populate.txt"
    done
    echo
    echo "=== cache folders written ==="
    local g d
    for app in $FC_APPS; do
        while IFS= read -r g; do
            while IFS= read -r d; do
                printf '  %-11s ~/%s  (%s bytes)\n' "$app" "$d" "$(du -sb "$VHOME/$d" | cut -f1)"
            done < <(cd "$VHOME" && compgen -G "$g")
        done < <(fc_table "$app" cache)
    done
}

FC_ROW_MISSING=""
fc_selftest() { # prints the self-test for the fresh HOME and whether it lists each application's row
    echo
    echo "=== $SWEEPKIN --selftest ==="
    fc_env "$SWEEPKIN" --selftest > "$WORK/selftest.txt" 2>&1
    echo "(exit status $?)"
    cat "$WORK/selftest.txt"
    local app row
    for app in $FC_APPS; do
        row=$(fc_table "$app" row)
        if grep -qF -- "· $row:" "$WORK/selftest.txt"; then
            echo "row listed:     $row"
        else
            echo "row not listed: $row"
            FC_ROW_MISSING="$FC_ROW_MISSING $app"
        fi
    done
}

fc_list() { # fc_list NAME : type, size, mtime, link target and path of everything in HOME
    (cd "$VHOME" && find . -mindepth 1 -printf '%y\t%s\t%T@\t%l\t%P\n' | sort -t$'\t' -k5) > "$WORK/$1.txt"
}

fc_removal() { # runs CLEAN_CMD in the fresh HOME
    echo
    if [ -n "${CLEAN_CMD:-}" ]; then
        echo "=== removal: CLEAN_CMD=$CLEAN_CMD ==="
        (cd "$VHOME" && fc_env bash -c "$CLEAN_CMD") 2>&1
        echo "(exit status $?)"
    else
        echo "=== removal: CLEAN_CMD unset, skipped ==="
    fi
}

fc_compare() { # fc_compare [--running] : what the removal took, against the table
    FC_REMOVAL=FAIL
    "$FC_PYTHON" "$FC_LIB/compare.py" "$@" "$FC_TABLE" "$WORK/before.txt" "$WORK/after.txt" $FC_APPS && FC_REMOVAL=PASS
}

fc_check_all() {
    local app
    echo
    for app in $FC_APPS; do
        [ -n "${FC_RESULT[$app]:-}" ] && continue
        fc_log "$app: checking after removal"
        if "check_$app" > "$LOGS/$app-check.txt" 2>&1; then
            FC_RESULT[$app]="PASS  $app works afterwards"
        else
            FC_RESULT[$app]="FAIL  $app does not work afterwards"
        fi
        sed 's/^/    /' "$LOGS/$app-check.txt"
        case " $FC_ROW_MISSING " in
            *" $app "*) [ "${ROWS_REQUIRED:-0}" = 1 ] &&
                FC_RESULT[$app]="FAIL  $app: the self-test does not list \"$(fc_table "$app" row)\"" ;;
        esac
    done
    fc_list final
    echo
    echo "=== re-created after the removal ==="
    "$FC_PYTHON" "$FC_LIB/compare.py" --recreated "$WORK/after.txt" "$WORK/final.txt"
}

fc_result() { # prints the verdicts and exits: 0 all PASS, 1 some FAIL
    local app fails=0
    echo
    echo "=== RESULT ==="
    printf '%-5s removal: nothing outside the listed cache folders vanished or changed, all to keep is there\n' "$FC_REMOVAL"
    [ "$FC_REMOVAL" = PASS ] || fails=$((fails + 1))
    for app in $FC_APPS; do
        echo "${FC_RESULT[$app]}"
        case ${FC_RESULT[$app]} in FAIL*) fails=$((fails + 1)) ;; esac
    done
    [ $fails -eq 0 ] && { echo "ALL PASS"; exit 0; }
    echo "$fails check(s) FAILED"
    exit 1
}
