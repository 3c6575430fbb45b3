#!/usr/bin/env bash
# verify-real-browsers.sh - field check of Sweepkin against real Firefox ESR and Chromium
# profiles. Not part of the test suite: it needs root and Debian's firefox-esr and chromium
# (apt-get install firefox-esr chromium), and takes about a minute and a half.
#
# Usage (a clean of every target, as the tray app's clean of all rows does):
#   CLEAN_CMD="build/tests/hardening/hardening_deletion_driver --every-target" \
#       tools/verify-real-browsers.sh build/sweepkin
#   verify-real-browsers.sh SWEEPKIN_BINARY
#
# Environment:
#   CLEAN_CMD             shell command run (bash -c) with the fresh HOME exported and XDG_* unset;
#                         unset/empty = skip the removal step.
#   RUNNING_DURING_CLEAN  1 = keep both browsers running while CLEAN_CMD runs (default 0).
#   CHROMIUM_UDD          "explicit" (default): --user-data-dir=$HOME/.config/chromium,
#                         "none": no --user-data-dir (headless then uses a throw-away profile).
#   CHROMIUM_EXTRA        extra Chromium flags (e.g. --disable-gpu).
#   CHROMIUM_SELF_EXIT    1 (default): Chromium runs with --dump-dom and exits by itself, which
#                         flushes its cookie store; 0: stop it with SIGTERM after SETTLE seconds
#                         (headless Chromium then loses cookies set less than ~30 s earlier).
#   SETTLE                seconds to wait after the page reported, before stopping (default:
#                         Firefox 10, Chromium 1 when it exits by itself, else 35).
#   BROWSERS              "firefox chromium" (default) or a subset.
#   HEADFUL               1 = run the browsers with a window on a private Xvfb display instead of
#                         --headless (needs the xvfb package); Chromium is then stopped with
#                         SIGTERM after SETTLE (35 s by default, past its ~30 s cookie commit timer).
#   LEGACY_MOZILLA        1 = pre-create an empty ~/.mozilla/firefox (legacy layout), default 0.
#   KEEP                  1 = keep the temp folder (its path is printed), default 0.
#   LAYOUT_OUT            folder: write layout listings (find/du) of the populated HOME there.
#   RUN_TIMEOUT           seconds allowed for one browser run (default 90).
#
# What it does:
#   1. makes a fresh HOME (mktemp -d), env without XDG_*; everything runs in a private
#      network namespace that only has loopback (unshare -n) when possible;
#   2. serves a probe site on 127.0.0.1 (cookie from JS + Set-Cookie header, localStorage,
#      Cache API entry, cacheable .js/.css/.png with Cache-Control: max-age=86400);
#   3. runs each browser headless on the probe page twice, stops it gracefully, then reads back
#      cookie/localStorage once (baseline) so a flush problem is not mistaken for data loss;
#   4. runs "$SWEEPKIN --selftest" with that HOME and prints its output;
#   5. runs CLEAN_CMD and prints what disappeared from HOME, flagging anything outside the
#      browser's cache folders in tools/fieldcheck/expected-caches.txt, any file outside them
#      that changed, and anything listed there to keep that is missing;
#   6. restarts each browser on the read-back page and prints PASS/FAIL for cookie and
#      localStorage of each browser.
# Exit status: 0 all PASS, 1 some FAIL, 2 setup problem.

{ # whole script in one block: bash parses it before running, so editing the file mid-run is safe
set -u
set -o pipefail
. "$(dirname "${BASH_SOURCE[0]}")/fieldcheck/lib.sh"
fc_enter_netns "$@"

FC_APPS=${BROWSERS:-"firefox chromium"}
CHROMIUM_UDD=${CHROMIUM_UDD:-explicit}
CHROMIUM_SELF_EXIT=${CHROMIUM_SELF_EXIT:-1}
HEADFUL=${HEADFUL:-0}
HEADLESS_FLAG=--headless
if [ "$HEADFUL" = 1 ]; then
    HEADLESS_FLAG=""
    CHROMIUM_SELF_EXIT=0
    command -v Xvfb >/dev/null 2>&1 || fc_die "HEADFUL=1 needs Xvfb (apt-get install -y xvfb)"
fi
FIREFOX_BIN=$(command -v firefox-esr || command -v firefox || true)
CHROMIUM_BIN=$(command -v chromium || command -v chromium-browser || true)
needs_firefox() { [ -n "$FIREFOX_BIN" ] || fc_die "firefox-esr missing (apt-get install -y firefox-esr)"; }
needs_chromium() { [ -n "$CHROMIUM_BIN" ] || fc_die "chromium missing (apt-get install -y chromium)"; }

start_browser() { # start_browser BROWSER PAGE PHASE : in the background, sets FC_PID
    local b=$1 url="$BASE/$2?b=$1&phase=$3" out="$LOGS/$1-$3.out" err="$LOGS/$1-$3.err"
    case $b in
        firefox) fc_spawn "$out" "$err" "$FIREFOX_BIN" $HEADLESS_FLAG "$url" ;;
        chromium)
            local udd=() self_exit_flags=""
            [ "$CHROMIUM_SELF_EXIT" = 1 ] && self_exit_flags="--dump-dom --virtual-time-budget=8000"
            [ "$CHROMIUM_UDD" = explicit ] && udd=(--user-data-dir="$VHOME/.config/chromium")
            # shellcheck disable=SC2086
            fc_spawn "$out" "$err" "$CHROMIUM_BIN" $HEADLESS_FLAG --no-sandbox "${udd[@]}" \
                --no-first-run --no-default-browser-check --disable-background-networking \
                --disable-component-update --disable-sync --disable-default-apps \
                --disable-domain-reliability --disable-client-side-phishing-detection \
                --disable-breakpad --no-pings --metrics-recording-only \
                --host-resolver-rules="MAP * ~NOTFOUND , EXCLUDE 127.0.0.1" \
                ${CHROMIUM_EXTRA:-} ${self_exit_flags} "$url"
            ;;
    esac
}

proc_snapshot() { # proc_snapshot PID FILE : exe and command line of the tree
    local p
    for p in "$1" $(fc_descendants "$1"); do
        printf '%s exe=%s cmd=%s\n' "$p" "$(readlink "/proc/$p/exe" 2>/dev/null)" \
            "$( { tr '\0' ' ' < "/proc/$p/cmdline"; } 2>/dev/null | cut -c1-600)"
    done > "$2"
}

wait_helpers_gone() { # give re-parented helpers (crash handlers) up to 10 s to exit by themselves
    helpers_alive() {
        local p
        for p in $(pgrep -f -- "$WORK/" 2>/dev/null); do
            case "$(readlink "/proc/$p/exe" 2>/dev/null)" in *firefox*|*chromium*|*crashhelper*) return 0 ;; esac
        done
        return 1
    }
    fc_wait_for 10 eval '! helpers_alive' || fc_log "note: browser helper processes still running after stop"
}

run_browser_once() { # run_browser_once BROWSER PAGE PHASE KIND : until the page reported, then stop
    local b=$1 phase=$3 kind=$4 i got=0 pid settle=${SETTLE:-}
    start_browser "$b" "$2" "$phase"
    pid=$FC_PID
    for ((i = 0; i < RUN_TIMEOUT * 5; i++)); do
        if fc_seen "$kind" "$b" "$phase"; then got=1; break; fi
        kill -0 "$pid" 2>/dev/null || break
        ((i % 10 == 0)) && fc_record_tree "$pid"
        sleep 0.2
    done
    fc_record_tree "$pid"
    proc_snapshot "$pid" "$LOGS/procs-$b-$phase.txt"
    # let caches and storage settle, then shut down gracefully (the profile is flushed then):
    # Firefox writes localStorage a few seconds after setItem and a SIGTERM shortly after loses
    # it; Chromium stopped by SIGTERM loses cookies younger than its ~30 s commit timer
    if [ -z "$settle" ]; then
        case $b in
            firefox) settle=10 ;;
            chromium) if [ "$CHROMIUM_SELF_EXIT" = 1 ]; then settle=1; else settle=35; fi ;;
        esac
    fi
    [ $got = 1 ] && sleep "$settle"
    if [ "$b" = chromium ] && [ "$CHROMIUM_SELF_EXIT" = 1 ]; then
        fc_wait_for "$RUN_TIMEOUT" eval "! kill -0 $pid 2>/dev/null"
    fi
    fc_stop_pid "$pid" 40
    wait_helpers_gone
    [ $got = 1 ] || { fc_log "WARNING: $b $phase: page never reported (see $LOGS/$b-$phase.err)"; return 1; }
}
run_browser() { # one retry when the browser ended without the page reporting
    run_browser_once "$@" || { fc_log "$1 $3: retrying once"; run_browser_once "$@"; }
    return 0
}

populate_browser() {
    run_browser "$1" index.html populate write
    # a second visit fills code caches / revalidates the HTTP cache the way a returning user does
    run_browser "$1" index.html populate2 write
    run_browser "$1" read.html baseline read
    fc_judge "$1" baseline ||
        { echo "the browser did not keep its data even without a removal"; return 1; }
}
check_browser() { run_browser "$1" read.html after read; fc_judge "$1" after; }
populate_firefox() { populate_browser firefox; }
check_firefox() { check_browser firefox; }
populate_chromium() { populate_browser chromium; }
check_chromium() { check_browser chromium; }

RUNNING_PIDS=""
start_during_clean() { # both browsers on the read page while CLEAN_CMD runs
    local b
    for b in $FC_APPS; do
        start_browser "$b" read.html during
        RUNNING_PIDS="$RUNNING_PIDS $FC_PID"
    done
    all_seen() { local b; for b in $FC_APPS; do fc_seen read "$b" during || return 1; done; }
    fc_wait_for "$RUN_TIMEOUT" all_seen
    local p
    for p in $RUNNING_PIDS; do fc_record_tree "$p"; done
    echo "browsers running during removal: pids$RUNNING_PIDS"
}

layout_out() { # layout_out NAME LISTING:NAME... : find listings and sizes of the cache folders into LAYOUT_OUT
    [ -n "${LAYOUT_OUT:-}" ] || return 0
    mkdir -p "$LAYOUT_OUT"
    local name=$1 l
    for l in "${@:2}"; do
        [ -e "$WORK/${l%%:*}.txt" ] || fc_list "${l%%:*}"
        awk -F'\t' '{ print $1 " ./" $5 }' "$WORK/${l%%:*}.txt" > "$LAYOUT_OUT/find-${l#*:}.txt"
    done
    {
        echo "# find \$HOME -maxdepth 6 | sort   (HOME shown as ~)"
        (cd "$VHOME" && find . -maxdepth 6 | sort | sed 's|^\.|~|')
        echo
        echo "# du -sb of cache folders (bytes)"
        (cd "$VHOME" && shopt -s nullglob &&
            for d in .cache/* .cache/mozilla/firefox/* .cache/mozilla/firefox/*/* .cache/chromium/* .cache/chromium/*/* \
                     .config/chromium/GrShaderCache .config/chromium/GraphiteDawnCache .config/chromium/GPUPersistentCache \
                     .config/chromium/ShaderCache .config/chromium/*/Cache ".config/chromium/"*"/Code Cache" \
                     .config/chromium/*/GPUCache .config/chromium/*/DawnGraphiteCache .config/chromium/*/DawnWebGPUCache \
                     ".config/chromium/"*"/Service Worker/CacheStorage" .config/chromium .config/mozilla/firefox/* .mozilla/firefox/*; do
                [ -d "$d" ] && printf '%12s  ~/%s\n' "$(du -sb "$d" | cut -f1)" "$d"
            done)
    } > "$LAYOUT_OUT/layout-$name.txt"
    cp "$LOGS"/procs-*.txt "$LAYOUT_OUT/" 2>/dev/null
}

# ---- the check ------------------------------------------------------------------------------------------
fc_start "$@"
[ "${LEGACY_MOZILLA:-0}" = 1 ] && mkdir -p "$VHOME/.mozilla/firefox"
[ "$HEADFUL" = 1 ] && fc_start_xvfb 1280x900x24 && fc_log "Xvfb on $FC_DISPLAY"
fc_fixture site "$WORK/site"
fc_start_server "$WORK/site"
BASE="http://127.0.0.1:$PORT"
fc_log "probe site on $BASE, HOME=$VHOME"

fc_populate_all
layout_out populated populated:populated
fc_selftest
fc_list before
running=""
if [ -n "${CLEAN_CMD:-}" ] && [ "${RUNNING_DURING_CLEAN:-0}" = 1 ]; then
    start_during_clean
    running=--running
fi
fc_removal
for p in $RUNNING_PIDS; do fc_stop_pid "$p" 40; done
fc_list after
fc_compare $running
fc_check_all
layout_out after-readback after:after-removal final:after-readback
fc_result
}
