#!/usr/bin/env bash
# verify-real-apps.sh - field check of Sweepkin against the caches that real Debian applications
# write: Thunderbird, GNOME Web, the Go toolchain, npm, Yarn, pip, Mesa and the tumbler thumbnailer.
# Not part of the test suite. It installs nothing; on Debian 12 it needs:
#   sudo apt-get install thunderbird epiphany-browser golang-go yarnpkg python3-pip python3-venv \
#       mesa-utils xvfb tumbler dbus dbus-x11 libglib2.0-bin iproute2
# plus npm (Debian's npm package, or the npm that ships with another Node.js build).
# It takes about two minutes.
#
# Usage (a clean of every target, as the tray app's clean of all rows does):
#   CLEAN_CMD="build/tests/hardening/hardening_deletion_driver --every-target" \
#       tools/verify-real-apps.sh build/sweepkin
#   CLEAN_CMD='rm -rf "$HOME/.cache/go-build"' APPS=go tools/verify-real-apps.sh build/sweepkin
#
# Environment:
#   CLEAN_CMD    shell command run (bash -c, in the fresh HOME) with the fresh HOME exported and
#                XDG_* unset; unset/empty = skip the removal step.
#   APPS         subset of "thunderbird epiphany go npm yarn pip mesa thumbnails" (default: all).
#   ROWS_REQUIRED  1 = a self-test that does not list an application's row fails that application
#                (default 0: the rows are only reported).
#   KEEP         1 = keep the temp folder (its path is printed), default 0.
#   RUN_TIMEOUT  seconds allowed for one application run (default 90).
#
# What it does:
#   1. makes a fresh HOME (mktemp -d) and runs every application there with XDG_* unset, each in
#      a private network namespace that only has loopback (unshare -n) where it can; npm and
#      Yarn need the package registry and run with the network;
#   2. lets each application write its real files (a headless Thunderbird profile, GNOME Web on
#      a page served on 127.0.0.1, a go build, an npm and a yarn install, a pip install of a local
#      source package from a local index, GL programs on llvmpipe, thumbnails through tumbler's
#      D-Bus service);
#   3. prints "$SWEEPKIN --selftest" for that HOME and whether it lists each application's row;
#   4. runs CLEAN_CMD and prints what disappeared, flagging anything outside the cache folders
#      listed below for each application, and any file outside them that changed;
#   5. checks that each application still works on what is left and prints PASS/FAIL.
# Two programs do not follow HOME and are pointed at the folder they use for an ordinary user:
# Mesa (under every GL program here, GNOME Web's web process too) takes the home folder from the
# password database, so every run gets MESA_SHADER_CACHE_DIR=$HOME/.cache (Mesa adds its own
# mesa_shader_cache* folder to it); Yarn run as root keeps its cache in /usr/local/share/.cache,
# so as root it gets XDG_CACHE_HOME=$HOME/.cache.
# Exit status: 0 all PASS, 1 some FAIL, 2 setup problem.

{ # whole script in one block: bash parses it before running, so editing the file mid-run is safe
set -u
set -o pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 SWEEPKIN_BINARY   (env CLEAN_CMD='...' to run a removal step)" >&2
    exit 2
fi
SWEEPKIN=$1
case "$SWEEPKIN" in /*) ;; *) SWEEPKIN="$(cd "$(dirname "$SWEEPKIN")" && pwd)/$(basename "$SWEEPKIN")";; esac
[ -x "$SWEEPKIN" ] || { echo "not an executable: $SWEEPKIN" >&2; exit 2; }
APPS=${APPS:-"thunderbird epiphany go npm yarn pip mesa thumbnails"}
RUN_TIMEOUT=${RUN_TIMEOUT:-90}
PYTHON=/usr/bin/python3
PATH_CLEAN="/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"

# Cache folders each application writes, relative to HOME ("*" = one profile folder). Anything
# else that disappears or changes is flagged: GNOME Web keeps its HSTS store and the filter lists
# it downloads beside its caches, and those stay.
declare -A CACHES=(
    [thunderbird]=".cache/thunderbird/*/cache2 .cache/thunderbird/*/startupCache"
    [epiphany]=".cache/epiphany/WebKitCache .cache/epiphany/CacheStorage .cache/epiphany/icondatabase .cache/epiphany/thumbnails"
    [go]=".cache/go-build"
    [npm]=".npm/_cacache"
    [yarn]=".cache/yarn"
    [pip]=".cache/pip"
    [mesa]=".cache/mesa_shader_cache .cache/mesa_shader_cache_db"
    [thumbnails]=".cache/thumbnails"
)
# The row each application should have in the self-test.
declare -A ROWS=(
    [thunderbird]="Thunderbird" [epiphany]="GNOME Web" [go]="Go build cache" [npm]="npm"
    [yarn]="Yarn" [pip]="pip" [mesa]="Graphics shader caches" [thumbnails]="File thumbnails"
)

need() { command -v "$1" >/dev/null 2>&1 || { echo "$1 missing (see the header for apt-get install)" >&2; exit 2; }; }
need "$PYTHON"
for app in $APPS; do
    case $app in
        thunderbird) need thunderbird ;;
        epiphany) need epiphany-browser; need Xvfb; need dbus-run-session; need gapplication ;;
        go) need go ;;
        npm) need npm; need node ;;
        yarn) need yarnpkg; need node ;;
        pip) [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import ensurepip, setuptools, wheel' 2>/dev/null ||
                 { echo "python3-venv, python3-setuptools and python3-wheel needed" >&2; exit 2; } ;;
        mesa) need Xvfb; need glxinfo; need glxgears; need es2gears_x11 ;;
        thumbnails) need dbus-run-session; need gdbus
                    [ -e /usr/share/dbus-1/services/org.xfce.Tumbler.Thumbnailer1.service ] ||
                        { echo "tumbler missing" >&2; exit 2; } ;;
        *) echo "unknown application $app" >&2; exit 2 ;;
    esac
done

OFFLINE=""
if command -v unshare >/dev/null 2>&1 && unshare -n true 2>/dev/null; then
    OFFLINE="unshare -n"
else
    echo "note: cannot create a private network namespace; offline runs keep the network" >&2
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/sweepkin-apps.XXXXXX") || exit 2
export VHOME="$WORK/home" LOGS="$WORK/logs" BIN="$WORK/bin" FIX="$WORK/fixtures"
mkdir -p "$VHOME" "$LOGS" "$BIN" "$FIX" "$WORK/tmp"
X11_DIR_EXISTED=1
[ -d /tmp/.X11-unix ] || X11_DIR_EXISTED=0

log() { printf '[verify %s] %s\n' "$(date +%H:%M:%S)" "$*"; }

cleanup() {
    # the helpers stop what they start; this only catches an interrupted run, by recorded pid
    local p
    for p in $(cat "$WORK"/pids 2>/dev/null); do kill -KILL "$p" 2>/dev/null; done
    [ "$X11_DIR_EXISTED" = 0 ] && rmdir /tmp/.X11-unix 2>/dev/null
    if [ "${KEEP:-0}" = 1 ]; then echo "kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 3' INT TERM HUP

# Runs a command with the fresh HOME, no XDG_* and a private TMPDIR.
in_home() {
    env -i HOME="$VHOME" PATH="$PATH_CLEAN" USER="$(id -un)" LOGNAME="$(id -un)" LANG=C.UTF-8 \
        TMPDIR="$WORK/tmp" WORK="$WORK" BIN="$BIN" FIX="$FIX" LOGS="$LOGS" RUN_TIMEOUT="$RUN_TIMEOUT" \
        MESA_SHADER_CACHE_DIR="$VHOME/.cache" \
        SITE_PORT="$SITE_PORT" ${NODE_PATH_FIX:+NODE_PATH=$NODE_PATH_FIX} "$@"
}
offline() { in_home $OFFLINE "$@"; }
SITE_PORT=$((20000 + RANDOM % 20000))

# Debian's yarnpkg loads its modules from /usr/share/nodejs, which a Node.js built elsewhere does
# not search.
NODE_PATH_FIX=""
[ -d /usr/share/nodejs ] && NODE_PATH_FIX=/usr/share/nodejs

# ---- helpers run inside the namespace ---------------------------------------------------------
# A static server on 127.0.0.1 that also records /report?... queries (one JSON line each).
cat > "$BIN/server.py" <<'PY'
import http.server, json, os, sys, urllib.parse
root, report, portfile = sys.argv[1:4]
port = int(sys.argv[4]) if len(sys.argv) > 4 else 0
class H(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *a, **k):
        super().__init__(*a, directory=root, **k)
    def log_message(self, *a):
        pass
    def end_headers(self):
        html = self.path.split("?")[0].endswith((".html", "/"))
        self.send_header("Cache-Control", "no-cache" if html else "public, max-age=86400")
        if html:
            self.send_header("Set-Cookie", "sweepkinhdr=1; Max-Age=31536000; Path=/")
        super().end_headers()
    def do_GET(self):
        u = urllib.parse.urlparse(self.path)
        if u.path == "/report":
            with open(report, "a") as f:
                f.write(json.dumps({k: v[0] for k, v in urllib.parse.parse_qs(u.query, keep_blank_values=True).items()}) + "\n")
            self.send_response(204); self.end_headers(); return
        return super().do_GET()
srv = http.server.ThreadingHTTPServer(("127.0.0.1", port), H)
open(portfile + ".tmp", "w").write(str(srv.server_address[1]))
os.rename(portfile + ".tmp", portfile)
srv.serve_forever()
PY

# Common shell functions for the helpers: loopback up, a server, an Xvfb display, waiting.
cat > "$BIN/common.sh" <<'SH'
set -u
ip link set lo up 2>/dev/null
KIDS=""
trap 'for k in $KIDS; do kill -TERM "$k" 2>/dev/null; done; wait 2>/dev/null' EXIT
wait_for() { # wait_for SECONDS COMMAND... : poll until the command succeeds
    local n=$(($1 * 5)); shift
    while ((n-- > 0)); do "$@" && return 0; sleep 0.2; done
    return 1
}
start_server() { # start_server ROOT REPORT [PORT] : sets PORT
    rm -f "$WORK/port"
    /usr/bin/python3 "$BIN/server.py" "$1" "$2" "$WORK/port" ${3:-} 2>>"$LOGS/server.log" &
    KIDS="$KIDS $!"; echo $! >> "$WORK/pids"
    wait_for 20 test -s "$WORK/port" || { echo "server did not start" >&2; exit 2; }
    PORT=$(cat "$WORK/port")
}
start_xvfb() { # sets DISPLAY to a number nobody uses (the socket folder is shared)
    local n
    for ((n = 200 + RANDOM % 50; n < 400; n++)); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp 2>>"$LOGS/xvfb.log" &
    KIDS="$KIDS $!"; echo $! >> "$WORK/pids"
    wait_for 20 test -e "/tmp/.X11-unix/X$n" || { echo "Xvfb did not start" >&2; exit 2; }
    export DISPLAY=":$n"
}
stop_pid() { # stop_pid PID SECONDS : TERM, then KILL after SECONDS
    kill -TERM "$1" 2>/dev/null
    wait_for "$2" eval '! kill -0 '"$1"' 2>/dev/null' || kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
SH

# Thunderbird: start headless, wait until its caches exist, let it settle, stop it gracefully.
cat > "$BIN/thunderbird.sh" <<'SH'
. "$BIN/common.sh"
thunderbird --headless >>"$LOGS/thunderbird.out" 2>&1 &
tb=$!; echo $tb >> "$WORK/pids"
ready() { compgen -G "$HOME/.cache/thunderbird/*/startupCache/*" >/dev/null && compgen -G "$HOME/.thunderbird/*/lock" >/dev/null; }
if wait_for "$RUN_TIMEOUT" ready; then
    sleep 5
    # the lock link exists only while Thunderbird holds the profile
    readlink "$(compgen -G "$HOME/.thunderbird/*/lock" | head -1)" >/dev/null && echo "profile locked: $(compgen -G "$HOME/.thunderbird/*/lock" | head -1)"
    ok=0
else
    echo "thunderbird did not create its caches in ${RUN_TIMEOUT}s"; ok=1
fi
kill -0 $tb 2>/dev/null || { echo "thunderbird exited early"; ok=1; }
stop_pid $tb 40
exit $ok
SH

# GNOME Web: open PAGE from a local site under Xvfb, wait for its report, quit through the
# application's own quit action.
cat > "$BIN/epiphany.sh" <<'SH'
. "$BIN/common.sh"
page=$1 phase=$2
# one port for every run: web storage belongs to the origin, port included
start_server "$FIX/site" "$WORK/report-$phase.jsonl" "$SITE_PORT"
start_xvfb
cat > "$WORK/epiphany-session.sh" <<'IN'
epiphany-browser "$1" >>"$LOGS/epiphany.out" 2>&1 &
e=$!
n=$((RUN_TIMEOUT * 5)); while ((n-- > 0)) && [ ! -s "$2" ]; do kill -0 $e 2>/dev/null || break; sleep 0.2; done
sleep 6
gapplication action org.gnome.Epiphany quit 2>>"$LOGS/epiphany.out"
n=100; while ((n-- > 0)) && kill -0 $e 2>/dev/null; do sleep 0.2; done
kill -0 $e 2>/dev/null && { echo "epiphany ignored its quit action; TERM"; kill -TERM $e; }
wait $e
IN
# the web process sandbox needs user namespaces, which a namespace like this one does not give
NO_AT_BRIDGE=1 GTK_A11Y=none WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1 \
    dbus-run-session -- bash "$WORK/epiphany-session.sh" "http://127.0.0.1:$PORT/$page" \
    "$WORK/report-$phase.jsonl" 2>>"$LOGS/dbus.log"
test -s "$WORK/report-$phase.jsonl" || { echo "the page never reported (see $LOGS/epiphany.out)"; exit 1; }
cat "$WORK/report-$phase.jsonl"
SH

# pip: a local source package (wheel built and cached) and a package from a local index (the
# download goes through pip's HTTP cache).
cat > "$BIN/pip.sh" <<'SH'
. "$BIN/common.sh"
start_server "$FIX/index" "$WORK/pip-report.jsonl"
pip=$HOME/venv/bin/pip
$pip install $1 --no-index --no-build-isolation "$FIX/hellopkg-1.0.tar.gz" &&
$pip install $1 --no-build-isolation --trusted-host 127.0.0.1 --index-url "http://127.0.0.1:$PORT/simple/" hellopkg2 &&
$HOME/venv/bin/python -c 'import hellopkg, hellopkg2; print("imported", hellopkg.hi())'
SH

# Mesa: GL programs on llvmpipe; success is a program still drawing when the timeout stops it.
cat > "$BIN/mesa.sh" <<'SH'
. "$BIN/common.sh"
start_xvfb
glxinfo -B 2>&1 | grep -E 'OpenGL (renderer|version) string'
ok=0
for prog in glxgears es2gears_x11; do
    timeout 4 $prog >>"$LOGS/mesa.out" 2>&1
    rc=$?
    if [ $rc = 124 ]; then echo "$prog ran until stopped"; else echo "$prog exited $rc"; ok=1; fi
done
exit $ok
SH

# tumbler: ask the thumbnailer service for a normal and a large thumbnail of a PNG.
cat > "$BIN/thumbnails.sh" <<'SH'
. "$BIN/common.sh"
cat > "$WORK/thumb-session.sh" <<'IN'
uri="file://$HOME/Pictures/probe.png"
md5=$(printf '%s' "$uri" | md5sum | cut -d' ' -f1)
# one flavor at a time: a second request for the same file can replace the first in the queue
for flavor in normal large; do
    gdbus call --session --dest org.freedesktop.thumbnails.Thumbnailer1 \
        --object-path /org/freedesktop/thumbnails/Thumbnailer1 \
        --method org.freedesktop.thumbnails.Thumbnailer1.Queue "['$uri']" "['image/png']" "$flavor" default 0 >/dev/null || exit 1
    n=$((RUN_TIMEOUT * 5))
    while ((n-- > 0)) && [ ! -s "$HOME/.cache/thumbnails/$flavor/$md5.png" ]; do sleep 0.2; done
    [ -s "$HOME/.cache/thumbnails/$flavor/$md5.png" ] || { echo "no $flavor thumbnail"; exit 1; }
done
IN
dbus-run-session -- bash "$WORK/thumb-session.sh" 2>>"$LOGS/dbus.log" && echo "thumbnails made" && exit 0
echo "no thumbnails (see $LOGS/dbus.log)"; exit 1
SH

# ---- fixtures -----------------------------------------------------------------------------------
"$PYTHON" - "$FIX" <<'PY' || { echo "fixture generation failed" >&2; exit 2; }
import os, random, struct, sys, tarfile, io, zlib
fix = sys.argv[1]
rnd = random.Random(7)
def png(path, w, h):
    raw = b"".join(b"\0" + bytes(rnd.getrandbits(8) for _ in range(w * 3)) for _ in range(h))
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
    open(path, "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                           + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
site = os.path.join(fix, "site"); os.makedirs(site)
png(os.path.join(site, "i1.png"), 160, 160)
png(os.path.join(fix, "probe.png"), 400, 300)
open(os.path.join(site, "a1.js"), "w").write("\n".join(
    "function f%d(x){return x*%d+'%x';}" % (i, rnd.randint(1, 999), rnd.getrandbits(64)) for i in range(3000)))
report = ("fetch('/report?phase=' + new URLSearchParams(location.search).get('phase') +"
          " '&cookie=' + encodeURIComponent(document.cookie) + '&ls=' + localStorage.getItem('sweepkinprobe'),"
          " {cache: 'no-store'});")
open(os.path.join(site, "index.html"), "w").write(
    "<!doctype html><html><head><meta charset=utf-8><script src=/a1.js></script></head><body>"
    "<img src=/i1.png><script>document.cookie='sweepkinprobe=1; max-age=31536000; path=/';"
    "localStorage.setItem('sweepkinprobe','1');"
    "(window.caches ? caches.open('probe').then(c => c.add('/a1.js')) : Promise.resolve())"
    ".finally(() => {" + report + "});</script></body></html>")
open(os.path.join(site, "read.html"), "w").write(
    "<!doctype html><html><body><script>" + report + "</script></body></html>")
def sdist(name, dest):
    files = {"pyproject.toml": '[build-system]\nrequires = ["setuptools", "wheel"]\n'
                               'build-backend = "setuptools.build_meta"\n[project]\nname = "%s"\nversion = "1.0"\n' % name,
             "%s/__init__.py" % name: "def hi():\n    return 'hi'\n"}
    with tarfile.open(dest, "w:gz") as t:
        for rel, text in files.items():
            data = text.encode()
            info = tarfile.TarInfo("%s-1.0/%s" % (name, rel)); info.size = len(data)
            t.addfile(info, io.BytesIO(data))
sdist("hellopkg", os.path.join(fix, "hellopkg-1.0.tar.gz"))
os.makedirs(os.path.join(fix, "index", "simple", "hellopkg2"))
sdist("hellopkg2", os.path.join(fix, "index", "simple", "hellopkg2", "hellopkg2-1.0.tar.gz"))
PY

# ---- per application: populate and check --------------------------------------------------------
# Each populate_APP / check_APP prints what it saw and returns 0 when the application worked.
declare -A TB_PROFILE_STATE

tb_profiles() { # the profile folders (those holding a prefs.js or times.json)
    local d
    for d in "$VHOME"/.thunderbird/*/; do
        [ -e "$d/prefs.js" ] || [ -e "$d/times.json" ] && basename "$d"
    done
}
tb_default() { sed -n 's/^Default=//p' "$VHOME/.thunderbird/installs.ini" 2>/dev/null | head -1; }
populate_thunderbird() {
    offline bash "$BIN/thunderbird.sh" || return 1
    TB_PROFILE_STATE[dirs]=$(tb_profiles | tr '\n' ' ')
    TB_PROFILE_STATE[ini]=$(md5sum < "$VHOME/.thunderbird/profiles.ini")
    echo "default profile: $(tb_default); profiles: ${TB_PROFILE_STATE[dirs]}"
}
check_thunderbird() {
    local p ok=0
    p=$(tb_default)
    [ -n "$p" ] && [ -s "$VHOME/.thunderbird/$p/prefs.js" ] || { echo "prefs.js of the default profile is gone"; ok=1; }
    offline bash "$BIN/thunderbird.sh" || ok=1
    [ "$(tb_profiles | tr '\n' ' ')" = "${TB_PROFILE_STATE[dirs]}" ] || { echo "profile folders changed: $(tb_profiles | tr '\n' ' ')"; ok=1; }
    [ "$(md5sum < "$VHOME/.thunderbird/profiles.ini")" = "${TB_PROFILE_STATE[ini]}" ] || { echo "profiles.ini changed"; ok=1; }
    compgen -G "$VHOME/.cache/thunderbird/$p/startupCache/*" >/dev/null || { echo "no startupCache for $p"; ok=1; }
    [ $ok = 0 ] && echo "the profile $p opened again and refilled its caches"
    return $ok
}

epiphany_judge() { # epiphany_judge PHASE : the read page saw the cookie and localStorage
    "$PYTHON" - "$WORK/report-$1.jsonl" <<'PY'
import json, sys
d = [json.loads(l) for l in open(sys.argv[1])][-1]
ok = d.get("ls") == "1" and "sweepkinprobe=1" in d.get("cookie", "")
print("read back: cookie=[%s] localStorage=[%s]" % (d.get("cookie"), d.get("ls")))
sys.exit(0 if ok else 1)
PY
}
populate_epiphany() {
    offline bash "$BIN/epiphany.sh" "index.html?phase=write" write >/dev/null || return 1
    offline bash "$BIN/epiphany.sh" "read.html?phase=baseline" baseline >/dev/null || return 1
    epiphany_judge baseline
}
check_epiphany() {
    offline bash "$BIN/epiphany.sh" "read.html?phase=after" after >/dev/null || return 1
    epiphany_judge after
}

go_build() {
    (cd "$VHOME/src/hello" && offline env GOFLAGS=-mod=mod GOPROXY=off go build -o hello . && ./hello)
}
populate_go() {
    mkdir -p "$VHOME/src/hello"
    printf 'module example.com/hello\n\ngo 1.19\n' > "$VHOME/src/hello/go.mod"
    printf 'package main\n\nimport "fmt"\n\nfunc main() { fmt.Println("hello from go") }\n' > "$VHOME/src/hello/main.go"
    go_build
}
check_go() { rm -f "$VHOME/src/hello/hello"; go_build; }

npm_install() {
    (cd "$VHOME/proj-npm" && in_home npm install --no-audit --no-fund --no-update-notifier "$@" >>"$LOGS/npm.out" 2>&1 &&
        in_home node -e 'console.log("is-number:", require("is-number")(5))')
}
populate_npm() {
    mkdir -p "$VHOME/proj-npm"
    echo '{"name":"probe","version":"1.0.0","private":true}' > "$VHOME/proj-npm/package.json"
    npm_install is-number@7.0.0
}
check_npm() { rm -rf "$VHOME/proj-npm/node_modules"; npm_install; }

yarn_env=()
[ "$(id -u)" = 0 ] && yarn_env=(XDG_CACHE_HOME="$VHOME/.cache")
yarn_install() {
    (cd "$VHOME/proj-yarn" && in_home env "${yarn_env[@]}" yarnpkg "$@" >>"$LOGS/yarn.out" 2>&1 &&
        in_home node -e 'console.log("is-number:", require("is-number")(5))')
}
populate_yarn() {
    mkdir -p "$VHOME/proj-yarn"
    echo '{"name":"probe","version":"1.0.0","private":true}' > "$VHOME/proj-yarn/package.json"
    yarn_install add is-number@7.0.0
}
check_yarn() { rm -rf "$VHOME/proj-yarn/node_modules"; yarn_install install --frozen-lockfile; }

populate_pip() {
    in_home /usr/bin/python3 -m venv --system-site-packages "$VHOME/venv" || return 1
    offline bash "$BIN/pip.sh" "" 2>&1 | grep -E 'Stored in|Successfully|imported|rror|No such'
}
check_pip() { offline bash "$BIN/pip.sh" "--force-reinstall --no-deps" 2>&1 | grep -E 'Stored in|Successfully installed|imported|rror|No such'; }

mesa_run() { offline bash "$BIN/mesa.sh"; }
populate_mesa() { mesa_run; }
check_mesa() { mesa_run && compgen -G "$VHOME/.cache/mesa_shader_cache*/*" >/dev/null; }

populate_thumbnails() {
    mkdir -p "$VHOME/Pictures" && cp "$FIX/probe.png" "$VHOME/Pictures/"
    offline bash "$BIN/thumbnails.sh"
}
check_thumbnails() { offline bash "$BIN/thumbnails.sh"; }

listing() { # type, size, mtime and path (link target for links) of everything in HOME
    (cd "$VHOME" && find . -mindepth 1 -printf '%y\t%s\t%T@\t%l\t%P\n' | sort -t$'\t' -k5)
}

# ---- 1. populate ---------------------------------------------------------------------------------
declare -A RESULT
for app in $APPS; do
    log "$app: populating"
    # not in a $(...) subshell: populate_thunderbird keeps state for its check
    populate_$app > "$LOGS/$app-populate.txt" 2>&1 ||
        RESULT[$app]="FAIL  $app did not work on a fresh HOME (before any removal)"
    sed 's/^/    /' "$LOGS/$app-populate.txt"
done
listing > "$WORK/before.txt"
echo
echo "=== cache folders written ==="
for app in $APPS; do
    for g in ${CACHES[$app]}; do
        for d in $(cd "$VHOME" && compgen -G "$g"); do
            printf '  %-11s ~/%s  (%s bytes)\n' "$app" "$d" "$(du -sb "$VHOME/$d" | cut -f1)"
        done
    done
done

# ---- 2. self-test --------------------------------------------------------------------------------
echo
echo "=== $SWEEPKIN --selftest ==="
in_home "$SWEEPKIN" --selftest > "$WORK/selftest.txt" 2>&1
echo "(exit status $?)"
cat "$WORK/selftest.txt"
ROW_FAIL=""
for app in $APPS; do
    if grep -qF -- "· ${ROWS[$app]}:" "$WORK/selftest.txt"; then
        echo "row listed:     ${ROWS[$app]}"
    else
        echo "row not listed: ${ROWS[$app]}"
        [ "${ROWS_REQUIRED:-0}" = 1 ] && ROW_FAIL="$ROW_FAIL $app"
    fi
done

# ---- 3. removal ----------------------------------------------------------------------------------
echo
if [ -n "${CLEAN_CMD:-}" ]; then
    echo "=== removal: CLEAN_CMD=$CLEAN_CMD ==="
    (cd "$VHOME" && in_home bash -c "$CLEAN_CMD") 2>&1
    echo "(exit status $?)"
else
    echo "=== removal: CLEAN_CMD unset, skipped ==="
fi
listing > "$WORK/after.txt"

# ---- 4. what disappeared or changed --------------------------------------------------------------
for app in $APPS; do for g in ${CACHES[$app]}; do printf '%s\t%s\n' "$app" "$g"; done; done > "$WORK/caches.txt"
"$PYTHON" - "$WORK/before.txt" "$WORK/after.txt" "$WORK/caches.txt" <<'PY'
import fnmatch, sys
def load(p):
    out = {}
    for line in open(p):
        t, size, mtime, target, path = line.rstrip("\n").split("\t", 4)
        out[path] = (t, size, mtime, target)
    return out
before, after = load(sys.argv[1]), load(sys.argv[2])
caches = [l.rstrip("\n").split("\t") for l in open(sys.argv[3])]
def owner(path):   # (app, cache glob) whose folder holds path, or None
    parts = path.split("/")
    for app, g in caches:
        depth = g.count("/") + 1
        if len(parts) >= depth and fnmatch.fnmatchcase("/".join(parts[:depth]), g):
            return app, g
    return None
gone = sorted(set(before) - set(after))
gone_set = set(gone)
roots = [g for g in gone if "/" not in g or g.rsplit("/", 1)[0] not in gone_set]
print("=== disappeared from HOME: %d entries, %d subtree roots ===" % (len(gone), len(roots)))
bad = 0
for r in roots:
    n = sum(1 for g in gone if g == r or g.startswith(r + "/"))
    o = owner(r)
    note = "(%s cache)" % o[0] if o else "<-- OUTSIDE the listed cache folders"
    print("  %s ~/%s  (%d entries) %s" % (before[r][0], r, n, note))
outside = [g for g in gone if not owner(g)]
# a file outside the cache folders whose size, time or link target changed (directory times change
# whenever an entry inside is removed, so only files and links count)
changed = [p for p in sorted(set(before) & set(after))
           if before[p][0] != "d" and before[p] != after[p] and not owner(p)]
if outside:
    # a vanished folder that also held cache folders is "mixed": list what else was in it
    mixed = {"/".join(g.split("/")[:i]) for g in gone if owner(g) for i in range(1, g.count("/") + 1)}
    tops = [g for g in outside if "/" not in g or g.rsplit("/", 1)[0] not in gone_set
            or g.rsplit("/", 1)[0] in mixed]
    print("!!! %d vanished entries are outside the listed cache folders:" % len(outside))
    for g in tops[:50]:
        print("    %s ~/%s" % (before[g][0], g))
if changed:
    print("!!! %d files outside the listed cache folders changed:" % len(changed))
    for p in changed[:50]:
        print("    ~/" + p)
if not outside and not changed:
    print("(nothing outside the listed cache folders vanished or changed)")
left = sorted({o for o in map(owner, after) if o})
if left:
    print("cache folders still present after the removal: " +
          ", ".join("%s ~/%s" % (a, g) for a, g in left))
open(sys.argv[3] + ".verdict", "w").write("FAIL" if outside or changed else "PASS")
PY
REMOVAL=$(cat "$WORK/caches.txt.verdict" 2>/dev/null || echo FAIL)

# ---- 5. works afterwards -------------------------------------------------------------------------
echo
for app in $APPS; do
    [ -n "${RESULT[$app]:-}" ] && continue
    log "$app: checking after removal"
    if check_$app > "$LOGS/$app-check.txt" 2>&1; then
        RESULT[$app]="PASS  $app works afterwards"
    else
        RESULT[$app]="FAIL  $app does not work afterwards"
    fi
    sed 's/^/    /' "$LOGS/$app-check.txt"
    case " $ROW_FAIL " in *" $app "*) RESULT[$app]="FAIL  $app: the self-test does not list \"${ROWS[$app]}\"" ;; esac
done

echo
echo "=== RESULT ==="
FAILS=0
printf '%-5s removal: nothing outside the listed cache folders vanished or changed\n' "$REMOVAL"
[ "$REMOVAL" = PASS ] || FAILS=$((FAILS + 1))
for app in $APPS; do
    echo "${RESULT[$app]}"
    case ${RESULT[$app]} in FAIL*) FAILS=$((FAILS + 1)) ;; esac
done
if [ $FAILS -eq 0 ]; then
    echo "ALL PASS"
    exit 0
fi
echo "$FAILS check(s) FAILED"
exit 1
}
