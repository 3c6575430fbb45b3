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
#   3. runs each browser headless on the probe page, stops it gracefully, then reads back
#      cookie/localStorage once (baseline) so a flush problem is not mistaken for data loss;
#   4. runs "$SWEEPKIN --selftest" with that HOME and prints its output;
#   5. runs CLEAN_CMD and prints what disappeared from HOME (find diff);
#   6. restarts each browser on the read-back page and prints PASS/FAIL for cookie and
#      localStorage of each browser.
# Exit status: 0 all PASS, 1 some FAIL, 2 setup problem.

{ # whole script in one block: bash parses it before running, so editing the file mid-run is safe
set -u
set -o pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 SWEEPKIN_BINARY   (env CLEAN_CMD='...' to run a removal step)" >&2
    exit 2
fi

# ---- private network namespace (loopback only) ---------------------------------------
if [ -z "${SWEEPKIN_VERIFY_IN_NETNS:-}" ] && [ -z "${SWEEPKIN_VERIFY_NO_NETNS:-}" ]; then
    if command -v unshare >/dev/null 2>&1 && unshare -n true 2>/dev/null; then
        export SWEEPKIN_VERIFY_IN_NETNS=1
        exec unshare -n -- bash "$0" "$@"
    fi
    echo "note: cannot create a private network namespace; relying on browser flags only" >&2
fi
if [ -n "${SWEEPKIN_VERIFY_IN_NETNS:-}" ]; then
    ip link set lo up 2>/dev/null || true
fi

SWEEPKIN=$1
case "$SWEEPKIN" in /*) ;; *) SWEEPKIN="$(cd "$(dirname "$SWEEPKIN")" && pwd)/$(basename "$SWEEPKIN")";; esac
RUN_TIMEOUT=${RUN_TIMEOUT:-90}
BROWSERS=${BROWSERS:-"firefox chromium"}
CHROMIUM_UDD=${CHROMIUM_UDD:-explicit}
CHROMIUM_SELF_EXIT=${CHROMIUM_SELF_EXIT:-1}
HEADFUL=${HEADFUL:-0}
HEADLESS_FLAG=--headless
if [ "$HEADFUL" = 1 ]; then
    HEADLESS_FLAG=""
    CHROMIUM_SELF_EXIT=0
    command -v Xvfb >/dev/null 2>&1 || { echo "HEADFUL=1 needs Xvfb (apt-get install -y xvfb)" >&2; exit 2; }
fi

FIREFOX_BIN=$(command -v firefox-esr || command -v firefox || true)
CHROMIUM_BIN=$(command -v chromium || command -v chromium-browser || true)
PYTHON=$(command -v python3 || true)
[ -n "$PYTHON" ] || { echo "python3 missing" >&2; exit 2; }
for b in $BROWSERS; do
    case $b in
        firefox) [ -n "$FIREFOX_BIN" ] || { echo "firefox-esr missing (apt-get install -y firefox-esr)" >&2; exit 2; } ;;
        chromium) [ -n "$CHROMIUM_BIN" ] || { echo "chromium missing (apt-get install -y chromium)" >&2; exit 2; } ;;
        *) echo "unknown browser $b" >&2; exit 2 ;;
    esac
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/sweepkin-verify.XXXXXX") || exit 2
export VHOME="$WORK/home"
SITE="$WORK/site"
VTMP="$WORK/tmp"
LOGS="$WORK/logs"
REPORT="$WORK/report.jsonl"
mkdir -p "$VHOME" "$SITE" "$VTMP" "$LOGS"
: > "$REPORT"
[ "${LEGACY_MOZILLA:-0}" = 1 ] && mkdir -p "$VHOME/.mozilla/firefox"

OUR_PIDS=""          # every pid this script started (and their recorded descendants)
SERVER_PID=""
XVFB_PID=""
XDISPLAY=""

log() { printf '[verify %s] %s\n' "$(date +%H:%M:%S)" "$*"; }

descendants() {      # all descendant pids of $1, one per line
    ps -e -o pid=,ppid= 2>/dev/null | awk -v root="$1" '
        { kids[$2] = kids[$2] " " $1 }
        END { n = split(kids[root], q, " "); i = 1
              while (i <= n) { p = q[i++]; print p; m = split(kids[p], c, " "); for (j = 1; j <= m; j++) q[++n] = c[j] } }'
}

remember_tree() {    # record a pid, its descendants, and helpers that re-parented to init but
                     # carry our temp path (crash handlers) as ours
    local p
    for p in "$1" $(descendants "$1") $(pgrep -f -- "$WORK/" 2>/dev/null); do
        [ "$p" = "$$" ] && continue
        case " $OUR_PIDS " in *" $p "*) ;; *) OUR_PIDS="$OUR_PIDS $p" ;; esac
    done
}

stop_pid() {         # graceful stop: TERM, wait up to $2 s, then KILL; only our own pid
    local pid=$1 limit=${2:-30} i
    kill -0 "$pid" 2>/dev/null || return 0
    remember_tree "$pid"
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < limit * 5; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    if kill -0 "$pid" 2>/dev/null; then
        log "pid $pid ignored SIGTERM for ${limit}s, sending SIGKILL"
        kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    return 0
}

cleanup() {
    local p
    for p in $OUR_PIDS; do
        # only pids we recorded, and only if they still run one of the programs we started
        if kill -0 "$p" 2>/dev/null; then
            case "$(readlink "/proc/$p/exe" 2>/dev/null)" in
                *firefox*|*chromium*|*python3*|*crashhelper*) kill -KILL "$p" 2>/dev/null ;;
            esac
        fi
    done
    [ -n "$SERVER_PID" ] && kill -KILL "$SERVER_PID" 2>/dev/null
    if [ -n "$XVFB_PID" ]; then
        kill -TERM "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        # Xvfb made /tmp/.X11-unix if it was missing: remove it again if it is empty
        [ "$X11_DIR_EXISTED" = 0 ] && rmdir /tmp/.X11-unix 2>/dev/null
    fi
    wait 2>/dev/null
    if [ "${KEEP:-0}" = 1 ]; then
        echo "kept: $WORK"
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT
trap 'exit 3' INT TERM HUP

# ---- probe site ------------------------------------------------------------------------
"$PYTHON" - "$SITE" <<'PY' || { echo "site generation failed" >&2; exit 2; }
import os, random, struct, sys, zlib
site = sys.argv[1]
rnd = random.Random(42)
def png(path, w, h):
    raw = b"".join(b"\0" + bytes(rnd.getrandbits(8) for _ in range(w * 3)) for _ in range(h))
    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) \
        + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(data)
def js(path, n):
    lines = ["(function(){var acc=0;"]
    for i in range(n):
        lines.append("function f%d_%d(x){var s=%d;for(var i=0;i<x;i++){s=(s*31+i)%%1000003;}return s+'%s';}acc+=f%d_%d(3).length;"
                     % (n, i, rnd.randint(1, 99999), "%x" % rnd.getrandbits(64), n, i))
    lines.append("window.probeAcc=(window.probeAcc||0)+acc;})();")
    open(path, "w").write("\n".join(lines))
def css(path, n):
    open(path, "w").write("\n".join(".c%d_%x{margin:%dpx;color:#%06x;}" % (i, rnd.getrandbits(32), i % 50, rnd.getrandbits(24)) for i in range(n)))
png(os.path.join(site, "i1.png"), 120, 120)
png(os.path.join(site, "i2.png"), 100, 100)
js(os.path.join(site, "a1.js"), 400)
js(os.path.join(site, "a2.js"), 300)
css(os.path.join(site, "s1.css"), 900)
css(os.path.join(site, "s2.css"), 700)
open(os.path.join(site, "index.html"), "w").write("""<!doctype html>
<html><head><meta charset="utf-8"><title>sweepkin probe: write</title>
<link rel="stylesheet" href="/s1.css"><link rel="stylesheet" href="/s2.css">
<script src="/a1.js"></script><script src="/a2.js"></script></head>
<body><h1>probe write</h1><img src="/i1.png"><img src="/i2.png"><pre id="out">pending</pre>
<script>
var q = new URLSearchParams(location.search);
document.cookie = "sweepkinprobe=1; max-age=31536000; path=/";
localStorage.setItem("sweepkinprobe", "1");
function done(extra) {
  var msg = "WROTE cookie=[" + document.cookie + "] ls=[" + localStorage.getItem("sweepkinprobe") + "] " + extra;
  document.getElementById("out").textContent = msg;
  fetch("/report?kind=write&b=" + q.get("b") + "&phase=" + q.get("phase") +
        "&cookie=" + encodeURIComponent(document.cookie) +
        "&ls=" + encodeURIComponent(localStorage.getItem("sweepkinprobe")) +
        "&extra=" + encodeURIComponent(extra), {cache: "no-store"});
}
done("sync");
if (window.caches) {
  caches.open("sweepkinprobe").then(function (c) { return c.add("/a1.js"); })
    .then(function () { done("cacheapi=ok"); }, function (e) { done("cacheapi=err:" + e); });
}
</script></body></html>
""")
open(os.path.join(site, "read.html"), "w").write("""<!doctype html>
<html><head><meta charset="utf-8"><title>sweepkin probe: read</title></head>
<body><h1>probe read</h1><pre id="out">pending</pre>
<script>
var q = new URLSearchParams(location.search);
var c = document.cookie, l = localStorage.getItem("sweepkinprobe");
document.getElementById("out").textContent = "COOKIE=[" + c + "] LS=[" + l + "]";
var send = function (extra) {
  document.getElementById("out").textContent += " " + extra;
  fetch("/report?kind=read&b=" + q.get("b") + "&phase=" + q.get("phase") +
        "&cookie=" + encodeURIComponent(c) + "&ls=" + encodeURIComponent(l) +
        "&extra=" + encodeURIComponent(extra), {cache: "no-store"});
};
send("sync");
if (window.caches) { caches.has("sweepkinprobe").then(function (h) { send("cacheapi=" + h); }, function (e) { send("cacheapi=err"); }); }
</script></body></html>
""")
PY

cat > "$WORK/server.py" <<'PY'
import http.server, json, os, sys, urllib.parse
site, report, portfile = sys.argv[1], sys.argv[2], sys.argv[3]
class H(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *a, **k):
        super().__init__(*a, directory=site, **k)
    def log_message(self, fmt, *args):
        sys.stderr.write("%s\n" % (fmt % args))
    def end_headers(self):
        p = urllib.parse.urlparse(self.path).path
        if p.endswith((".js", ".css", ".png")):
            self.send_header("Cache-Control", "public, max-age=86400")
        elif p in ("/", "/index.html"):
            self.send_header("Set-Cookie", "sweepkinhdr=1; Max-Age=31536000; Path=/")
            self.send_header("Cache-Control", "no-cache")
        else:
            self.send_header("Cache-Control", "no-store")
        super().end_headers()
    def do_GET(self):
        u = urllib.parse.urlparse(self.path)
        if u.path == "/report":
            q = {k: v[0] for k, v in urllib.parse.parse_qs(u.query, keep_blank_values=True).items()}
            q["cookie_header"] = self.headers.get("Cookie", "")
            q["ua"] = self.headers.get("User-Agent", "")
            with open(report, "a") as f:
                f.write(json.dumps(q) + "\n")
            self.send_response(204)
            self.end_headers()
            return
        if u.path == "/favicon.ico":
            self.send_response(404); self.end_headers(); return
        return super().do_GET()
srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), H)
with open(portfile + ".tmp", "w") as f:
    f.write(str(srv.server_address[1]))
os.rename(portfile + ".tmp", portfile)
srv.serve_forever()
PY

"$PYTHON" "$WORK/server.py" "$SITE" "$REPORT" "$WORK/port" 2>"$LOGS/server.log" &
SERVER_PID=$!
disown "$SERVER_PID" 2>/dev/null   # no "Killed" job message when it is stopped at the end
OUR_PIDS="$OUR_PIDS $SERVER_PID"
for ((i = 0; i < 100; i++)); do [ -s "$WORK/port" ] && break; sleep 0.1; done
[ -s "$WORK/port" ] || { echo "server did not start" >&2; cat "$LOGS/server.log" >&2; exit 2; }
PORT=$(cat "$WORK/port")
port_ok=0
for ((i = 0; i < 100; i++)); do
    if "$PYTHON" -c "import socket,sys; socket.create_connection(('127.0.0.1', int(sys.argv[1])), 1).close()" "$PORT" 2>/dev/null; then
        port_ok=1; break
    fi
    sleep 0.1
done
[ $port_ok = 1 ] || { echo "server port $PORT not reachable" >&2; exit 2; }
BASE="http://127.0.0.1:$PORT"
X11_DIR_EXISTED=1
if [ "$HEADFUL" = 1 ]; then
    [ -d /tmp/.X11-unix ] || X11_DIR_EXISTED=0
    # a high display number nobody else uses (the /tmp/.X11-unix socket folder is shared)
    for ((n = 200 + RANDOM % 50; n < 400; n++)); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 1280x900x24 -nolisten tcp 2>"$LOGS/xvfb.log" &
    XVFB_PID=$!
    for ((i = 0; i < 100; i++)); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    [ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start" >&2; cat "$LOGS/xvfb.log" >&2; exit 2; }
    XDISPLAY=":$n"
    log "Xvfb on $XDISPLAY"
fi
log "probe site on $BASE, HOME=$VHOME"

# ---- browser runners ---------------------------------------------------------------------
clean_env() {        # run a command with the fresh HOME, no XDG_* and a private TMPDIR
    env -i HOME="$VHOME" PATH="/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin" \
        USER="$(id -un)" LOGNAME="$(id -un)" LANG=C.UTF-8 TMPDIR="$VTMP" "$@"
}
bg_exec() {          # like clean_env, but replaces the background subshell: $! is the program
    exec env -i HOME="$VHOME" PATH="/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin" \
        USER="$(id -un)" LOGNAME="$(id -un)" LANG=C.UTF-8 TMPDIR="$VTMP" ${XDISPLAY:+DISPLAY=$XDISPLAY} "$@"
}

have_report() {      # have_report KIND BROWSER PHASE: a matching report arrived
    [ -n "$(field "$1" "$2" "$3" kind)" ]
}

proc_snapshot() {    # proc_snapshot PID FILE : exe and command line of the tree
    local p
    for p in "$1" $(descendants "$1"); do
        printf '%s exe=%s cmd=%s\n' "$p" "$(readlink "/proc/$p/exe" 2>/dev/null)" \
            "$( { tr '\0' ' ' < "/proc/$p/cmdline"; } 2>/dev/null | cut -c1-600)"
    done > "$2"
}

BG_PID=""
start_browser() {    # start_browser BROWSER PAGE PHASE : background, sets BG_PID
    local b=$1 page=$2 phase=$3 url
    url="$BASE/$page?b=$b&phase=$phase"
    case $b in
        firefox)
            bg_exec "$FIREFOX_BIN" $HEADLESS_FLAG "$url" >"$LOGS/$b-$phase.out" 2>"$LOGS/$b-$phase.err" &
            ;;
        chromium)
            local udd=() self_exit_flags=""
            [ "$CHROMIUM_SELF_EXIT" = 1 ] && self_exit_flags="--dump-dom --virtual-time-budget=8000"
            [ "$CHROMIUM_UDD" = explicit ] && udd=(--user-data-dir="$VHOME/.config/chromium")
            # shellcheck disable=SC2086
            bg_exec "$CHROMIUM_BIN" $HEADLESS_FLAG --no-sandbox "${udd[@]}" \
                --no-first-run --no-default-browser-check --disable-background-networking \
                --disable-component-update --disable-sync --disable-default-apps \
                --disable-domain-reliability --disable-client-side-phishing-detection \
                --disable-breakpad --no-pings --metrics-recording-only \
                --host-resolver-rules="MAP * ~NOTFOUND , EXCLUDE 127.0.0.1" \
                ${CHROMIUM_EXTRA:-} ${self_exit_flags} \
                "$url" >"$LOGS/$b-$phase.out" 2>"$LOGS/$b-$phase.err" &
            ;;
    esac
    BG_PID=$!
    OUR_PIDS="$OUR_PIDS $BG_PID"
}

run_browser() {      # run_browser BROWSER PAGE PHASE KIND : run until page reported, then stop;
                     # one retry when the browser ended without the page reporting
    run_browser_once "$@" || { log "$1 $3: retrying once"; run_browser_once "$@"; }
    return 0
}

run_browser_once() {
    local b=$1 page=$2 phase=$3 kind=$4 i got=0
    start_browser "$b" "$page" "$phase"
    local pid=$BG_PID
    for ((i = 0; i < RUN_TIMEOUT * 5; i++)); do
        if have_report "$kind" "$b" "$phase"; then got=1; break; fi
        kill -0 "$pid" 2>/dev/null || break
        ((i % 10 == 0)) && remember_tree "$pid"
        sleep 0.2
    done
    remember_tree "$pid"
    proc_snapshot "$pid" "$LOGS/procs-$b-$phase.txt"
    # let caches/storage settle, then shut down gracefully (profile flush happens at shutdown)
    local settle=${SETTLE:-}
    if [ -z "$settle" ]; then
        # Firefox writes localStorage a few seconds after setItem and a SIGTERM shortly after
        # loses it; Chromium stopped by SIGTERM loses cookies younger than its ~30 s commit timer
        case $b in
            firefox) settle=10 ;;
            chromium) if [ "$CHROMIUM_SELF_EXIT" = 1 ]; then settle=1; else settle=35; fi ;;
        esac
    fi
    [ $got = 1 ] && sleep "$settle"
    if [ "$b" = chromium ] && [ "$CHROMIUM_SELF_EXIT" = 1 ]; then
        for ((i = 0; i < RUN_TIMEOUT * 5; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
        wait "$pid" 2>/dev/null
    fi
    stop_pid "$pid" 40
    wait_helpers_gone
    [ $got = 1 ] || { log "WARNING: $b $phase: page never reported (see $LOGS/$b-$phase.err)"; return 1; }
    return 0
}

wait_helpers_gone() { # give re-parented helpers (crash handlers) up to 10 s to exit by themselves
    local i p alive
    for ((i = 0; i < 50; i++)); do
        alive=0
        for p in $(pgrep -f -- "$WORK/" 2>/dev/null); do
            case "$(readlink "/proc/$p/exe" 2>/dev/null)" in *firefox*|*chromium*|*crashhelper*) alive=1 ;; esac
        done
        [ $alive = 0 ] && return 0
        sleep 0.2
    done
    log "note: browser helper processes still running after stop"
}

field() {            # field KIND BROWSER PHASE NAME -> value from the last matching report
    "$PYTHON" - "$REPORT" "$@" <<'PY'
import json, sys
rep, kind, b, phase, name = sys.argv[1:6]
val = ""
for line in open(rep):
    try:
        d = json.loads(line)
    except ValueError:
        continue
    if d.get("kind") == kind and d.get("b") == b and d.get("phase") == phase:
        val = d.get(name, "")
print(val)
PY
}

FAILS=0
judge() {            # judge BROWSER PHASE [quiet]
    local b=$1 phase=$2 c l ch
    c=$(field read "$b" "$phase" cookie)
    ch=$(field read "$b" "$phase" cookie_header)
    l=$(field read "$b" "$phase" ls)
    if ! have_report read "$b" "$phase"; then
        printf 'FAIL  %-9s no read-back: the page never reported (browser did not load it; see logs)\n' "$b"
        return 1
    fi
    local cres=FAIL lres=FAIL
    case "; $c;" in *"; sweepkinprobe=1;"*) cres=PASS ;; esac
    [ "$l" = 1 ] && lres=PASS
    printf '%-5s %-9s cookie (document.cookie=[%s], Cookie header=[%s])\n' "$cres" "$b" "$c" "$ch"
    printf '%-5s %-9s localStorage (sweepkinprobe=[%s]) %s\n' "$lres" "$b" "$l" "$(field read "$b" "$phase" extra)"
    [ $cres = PASS ] && [ $lres = PASS ]
}

layout_report() {    # find -maxdepth 6 of HOME (as ~) plus sizes of the cache folders
    echo "# find \$HOME -maxdepth 6 | sort   (HOME shown as ~)"
    (cd "$VHOME" && find . -maxdepth 6 | sort | sed 's|^\.|~|')
    echo
    echo "# du -sb of cache folders (bytes)"
    ( cd "$VHOME" && shopt -s nullglob &&
      for d in .cache/* .cache/mozilla/firefox/* .cache/mozilla/firefox/*/* .cache/chromium/* .cache/chromium/*/* \
               .config/chromium/GrShaderCache .config/chromium/GraphiteDawnCache .config/chromium/GPUPersistentCache \
               .config/chromium/ShaderCache .config/chromium/*/Cache ".config/chromium/"*"/Code Cache" \
               .config/chromium/*/GPUCache .config/chromium/*/DawnGraphiteCache .config/chromium/*/DawnWebGPUCache \
               ".config/chromium/"*"/Service Worker/CacheStorage" .config/chromium .config/mozilla/firefox/* .mozilla/firefox/*; do
          [ -d "$d" ] && printf '%12s  ~/%s\n' "$(du -sb "$d" | cut -f1)" "$d"
      done )
}

listing() { (cd "$VHOME" && find . -mindepth 1 -printf '%y %p\n' | sort -k2); }

# ---- 1. populate ---------------------------------------------------------------------------
for b in $BROWSERS; do
    log "$b: populating profile (write page)"
    run_browser "$b" index.html populate write
    # a second visit fills code caches / revalidates the HTTP cache the way a returning user does
    run_browser "$b" index.html populate2 write
    log "$b: baseline read-back"
    run_browser "$b" read.html baseline read
done

if [ -n "${LAYOUT_OUT:-}" ]; then
    mkdir -p "$LAYOUT_OUT"
    listing > "$LAYOUT_OUT/find-populated.txt"
    layout_report > "$LAYOUT_OUT/layout-populated.txt"
    cp "$LOGS"/procs-*.txt "$LAYOUT_OUT/" 2>/dev/null
fi

echo
echo "=== baseline (before any removal) ==="
BASE_OK=1
for b in $BROWSERS; do judge "$b" baseline || BASE_OK=0; done
[ $BASE_OK = 1 ] || echo "WARNING: baseline read-back failed: the browser did not keep its data even without removal; results below are inconclusive"

# ---- 2. selftest ---------------------------------------------------------------------------
echo
echo "=== $SWEEPKIN --selftest ==="
clean_env "$SWEEPKIN" --selftest 2>&1
echo "(exit status $?)"

# ---- 3. removal ----------------------------------------------------------------------------
echo
listing > "$WORK/before.txt"
RUNNING_PIDS=""
if [ -n "${CLEAN_CMD:-}" ]; then
    if [ "${RUNNING_DURING_CLEAN:-0}" = 1 ]; then
        for b in $BROWSERS; do
            start_browser "$b" read.html during
            RUNNING_PIDS="$RUNNING_PIDS $BG_PID"
        done
        for ((i = 0; i < RUN_TIMEOUT * 5; i++)); do
            all=1
            for b in $BROWSERS; do have_report read "$b" during || all=0; done
            [ $all = 1 ] && break
            sleep 0.2
        done
        for p in $RUNNING_PIDS; do remember_tree "$p"; done
        echo "browsers running during removal: pids$RUNNING_PIDS"
    fi
    echo "=== removal: CLEAN_CMD=$CLEAN_CMD ==="
    ( cd "$VHOME" && clean_env bash -c "$CLEAN_CMD" ) 2>&1
    echo "(exit status $?)"
    for p in $RUNNING_PIDS; do stop_pid "$p" 40; done
else
    echo "=== removal: CLEAN_CMD unset, skipped ==="
fi
listing > "$WORK/after.txt"

# ---- 4. what disappeared -------------------------------------------------------------------
"$PYTHON" - "$WORK/before.txt" "$WORK/after.txt" "${RUNNING_DURING_CLEAN:-0}" <<'PY'
import fnmatch, sys
running = len(sys.argv) > 3 and sys.argv[3] == "1"
def load(p):
    out = {}
    for line in open(p):
        t, path = line.rstrip("\n").split(" ", 1)
        out[path[2:]] = t
    return out
before, after = load(sys.argv[1]), load(sys.argv[2])
gone = sorted(set(before) - set(after))
# roots of the vanished subtrees (parent still there)
roots = [g for g in gone if "/" not in g or g.rsplit("/", 1)[0] not in set(gone)]
cache_globs = [
    ".cache/mozilla/firefox/*/cache2", ".cache/mozilla/firefox/*/startupCache",
    ".cache/mozilla/firefox/*/thumbnails",
    ".cache/chromium",
    ".config/chromium/GrShaderCache", ".config/chromium/GraphiteDawnCache",
    ".config/chromium/GPUPersistentCache", ".config/chromium/ShaderCache",
    ".config/chromium/*/Cache", ".config/chromium/*/Code Cache", ".config/chromium/*/GPUCache",
    ".config/chromium/*/DawnGraphiteCache", ".config/chromium/*/DawnWebGPUCache",
    ".config/chromium/*/Service Worker/CacheStorage",
]
def in_cache(p):
    parts = p.split("/")
    for i in range(1, len(parts) + 1):
        pre = "/".join(parts[:i])
        if any(fnmatch.fnmatchcase(pre, g) and pre.count("/") == g.count("/") for g in cache_globs):
            return True
    return False
new = sorted(set(after) - set(before))
new_parents = {n.rsplit("/", 1)[0] for n in new if "/" in n}
def rotated(p):   # a running browser replaced this file itself: a new entry appeared beside it
    return running and "/" in p and p.rsplit("/", 1)[0] in new_parents
print("=== disappeared from HOME: %d entries, %d subtree roots ===" % (len(gone), len(roots)))
for r in roots:
    n = sum(1 for g in gone if g == r or g.startswith(r + "/"))
    note = ""
    if not in_cache(r):
        note = "   <-- outside the known cache folders, but a new file appeared beside it (rotated by the running browser?)" \
            if rotated(r) else "   <-- OUTSIDE the known cache folders"
    print("  %s %s  (%d entries)%s" % (before[r], r, n, note))
outside = [g for g in gone if not in_cache(g) and not rotated(g)]
rot = [g for g in gone if not in_cache(g) and rotated(g)]
if rot:
    print("(%d vanished entries outside the cache folders were replaced beside them while the browsers ran)" % len(rot))
if outside:
    print("!!! %d vanished entries are outside the known cache folders:" % len(outside))
    for g in outside[:200]:
        print("    " + g)
else:
    print("(nothing outside the known cache folders vanished)")
if new:
    print("=== appeared during removal: %d entries ===" % len(new))
    for g in new[:50]:
        print("  " + g)
PY

# ---- 5. read back ----------------------------------------------------------------------------
echo
for b in $BROWSERS; do
    log "$b: read-back after removal"
    run_browser "$b" read.html after read
done
listing > "$WORK/final.txt"
echo
echo "=== re-created by the browsers after removal ==="
"$PYTHON" - "$WORK/after.txt" "$WORK/final.txt" <<'PY2'
import sys
def load(p):
    return {l.rstrip("\n").split(" ", 1)[1][2:] for l in open(p)}
a, f = load(sys.argv[1]), load(sys.argv[2])
new = sorted(f - a)
roots = [n for n in new if "/" not in n or n.rsplit("/", 1)[0] not in set(new)]
for r in roots:
    print("  %s  (%d entries)" % (r, sum(1 for n in new if n == r or n.startswith(r + "/"))))
if not roots:
    print("  (nothing)")
PY2
if [ -n "${LAYOUT_OUT:-}" ]; then
    cp "$WORK/after.txt" "$LAYOUT_OUT/find-after-removal.txt"
    cp "$WORK/final.txt" "$LAYOUT_OUT/find-after-readback.txt"
    layout_report > "$LAYOUT_OUT/layout-after-readback.txt"
    cp "$LOGS"/procs-*.txt "$LAYOUT_OUT/" 2>/dev/null
fi

echo
echo "=== RESULT (after removal) ==="
for b in $BROWSERS; do judge "$b" after || FAILS=$((FAILS + 1)); done
if [ $FAILS -eq 0 ]; then
    echo "ALL PASS"
    exit 0
fi
echo "$FAILS browser(s) FAILED"
exit 1
}
