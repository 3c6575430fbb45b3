#!/usr/bin/env bash
# verify-real-apps.sh - field check of Sweepkin against the caches that real Debian applications
# write: Thunderbird, GNOME Web, the Go toolchain, npm, Yarn, pip, Mesa, the tumbler thumbnailer,
# ccache, Go's module cache, Gradle, Cargo and Bazel.
# Not part of the test suite. It installs nothing; on Debian 12 it needs:
#   sudo apt-get install thunderbird epiphany-browser golang-go yarnpkg python3-pip python3-venv \
#       mesa-utils xvfb tumbler dbus dbus-x11 libglib2.0-bin iproute2 ccache gcc gradle cargo git \
#       bazel-bootstrap
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
#   APPS         subset of "thunderbird epiphany go npm yarn pip mesa thumbnails ccache gomod
#                gradle cargo bazel" (default: all).
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
#   4. runs CLEAN_CMD and prints what disappeared, flagging anything outside the application's
#      cache folders in tools/fieldcheck/expected-caches.txt, any file outside them that changed,
#      and anything listed there to keep that is missing;
#   5. checks that each application still works on what is left and prints PASS/FAIL.
# Two programs do not follow HOME and are pointed at the folder they use for an ordinary user:
# Mesa (under every GL program here, GNOME Web's web process too) takes the home folder from the
# password database, so every run gets MESA_SHADER_CACHE_DIR=$HOME/.cache (Mesa adds its own
# mesa_shader_cache* folder to it); Yarn run as root keeps its cache in /usr/local/share/.cache,
# so as root it gets XDG_CACHE_HOME=$HOME/.cache.
# Exit status: 0 all PASS, 1 some FAIL, 2 setup problem.
#
# Adding an application NAME: add NAME to FC_APPS below, write populate_NAME and check_NAME (and
# needs_NAME for the programs it uses) in the section of the applications, and give NAME its row
# and its cache folders in tools/fieldcheck/expected-caches.txt.

{ # whole script in one block: bash parses it before running, so editing the file mid-run is safe
set -u
set -o pipefail
. "$(dirname "${BASH_SOURCE[0]}")/fieldcheck/lib.sh"

FC_APPS=${APPS:-"thunderbird epiphany go npm yarn pip mesa thumbnails ccache gomod gradle cargo bazel"}
# one port for every GNOME Web run: web storage belongs to the origin, port included
SITE_PORT=${SITE_PORT:-$((20000 + RANDOM % 20000))}

# ---- Thunderbird: a headless profile; afterwards the same profile opens and refills its caches ------
needs_thunderbird() { fc_need thunderbird; }
thunderbird_run() { # inside: start headless, wait until its caches exist, let it settle, stop it
    thunderbird --headless >>"$LOGS/thunderbird.out" 2>&1 &
    local tb=$! ok=0 lock
    fc_record $tb
    ready() { compgen -G "$HOME/.cache/thunderbird/*/startupCache/*" >/dev/null && compgen -G "$HOME/.thunderbird/*/lock" >/dev/null; }
    if fc_wait_for "$RUN_TIMEOUT" ready; then
        sleep 5
        # the lock link exists only while Thunderbird holds the profile
        lock=$(compgen -G "$HOME/.thunderbird/*/lock" | head -1)
        readlink "$lock" >/dev/null && echo "profile locked: $lock"
    else
        echo "thunderbird did not create its caches in ${RUN_TIMEOUT}s"; ok=1
    fi
    kill -0 $tb 2>/dev/null || { echo "thunderbird exited early"; ok=1; }
    fc_stop_pid $tb 40
    return $ok
}
tb_profiles() { # the profile folders (those holding a prefs.js or times.json)
    local d
    for d in "$VHOME"/.thunderbird/*/; do
        [ -e "$d/prefs.js" ] || [ -e "$d/times.json" ] && basename "$d"
    done | tr '\n' ' '
}
tb_default() { sed -n 's/^Default=//p' "$VHOME/.thunderbird/installs.ini" 2>/dev/null | head -1; }
populate_thunderbird() {
    fc_inside thunderbird_run || return 1
    TB_PROFILES=$(tb_profiles)
    TB_INI=$(md5sum < "$VHOME/.thunderbird/profiles.ini")
    echo "default profile: $(tb_default); profiles: $TB_PROFILES"
}
check_thunderbird() {
    local p ok=0
    p=$(tb_default)
    [ -n "$p" ] && [ -s "$VHOME/.thunderbird/$p/prefs.js" ] || { echo "prefs.js of the default profile is gone"; ok=1; }
    fc_inside thunderbird_run || ok=1
    [ "$(tb_profiles)" = "$TB_PROFILES" ] || { echo "profile folders changed: $(tb_profiles)"; ok=1; }
    [ "$(md5sum < "$VHOME/.thunderbird/profiles.ini")" = "$TB_INI" ] || { echo "profiles.ini changed"; ok=1; }
    compgen -G "$VHOME/.cache/thunderbird/$p/startupCache/*" >/dev/null || { echo "no startupCache for $p"; ok=1; }
    [ $ok = 0 ] && echo "the profile $p opened again and refilled its caches"
    return $ok
}

# ---- GNOME Web: the probe page under Xvfb; afterwards its cookie and local storage are still there --
needs_epiphany() { fc_need epiphany-browser Xvfb dbus-run-session gapplication; }
epiphany_visit() { # inside: epiphany_visit PAGE PHASE KIND
    fc_start_server "$FIX/site" "$SITE_PORT"
    fc_start_xvfb
    # the web process sandbox needs user namespaces, which a namespace like this one does not give
    NO_AT_BRIDGE=1 GTK_A11Y=none WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1 \
        fc_session epiphany_session "http://127.0.0.1:$PORT/$1?b=epiphany&phase=$2" "$3" "$2" >>"$LOGS/epiphany.out"
    fc_seen "$3" epiphany "$2" || { echo "the page never reported (see $LOGS/epiphany.out)"; return 1; }
}
epiphany_session() { # inside the D-Bus session: open URL until its report arrives, then quit
    epiphany-browser "$1" >>"$LOGS/epiphany.out" 2>&1 &
    local e=$!
    fc_wait_for "$RUN_TIMEOUT" eval "fc_seen $2 epiphany $3 || ! kill -0 $e 2>/dev/null"
    sleep 6
    gapplication action org.gnome.Epiphany quit 2>>"$LOGS/epiphany.out"
    fc_wait_for 20 eval "! kill -0 $e 2>/dev/null" || { echo "epiphany ignored its quit action; TERM" >&2; kill -TERM $e; }
    wait $e
}
populate_epiphany() {
    fc_fixture site "$FIX/site"
    fc_inside epiphany_visit index.html write write &&
        fc_inside epiphany_visit read.html baseline read && fc_judge epiphany baseline
}
check_epiphany() { fc_inside epiphany_visit read.html after read && fc_judge epiphany after; }

# ---- Go: a build; afterwards it builds again ----------------------------------------------------------
needs_go() { fc_need go; }
go_build() { (cd "$VHOME/src/hello" && fc_offline env GOFLAGS=-mod=mod GOPROXY=off go build -o hello . && ./hello); }
populate_go() {
    mkdir -p "$VHOME/src/hello"
    printf 'module example.com/hello\n\ngo 1.19\n' > "$VHOME/src/hello/go.mod"
    printf 'package main\n\nimport "fmt"\n\nfunc main() { fmt.Println("hello from go") }\n' > "$VHOME/src/hello/main.go"
    go_build
}
check_go() { rm -f "$VHOME/src/hello/hello"; go_build; }

# ---- npm and Yarn: a package from the registry; afterwards it installs again ---------------------------
node_project() { # node_project DIR : a private package with nothing in it
    mkdir -p "$VHOME/$1"
    echo '{"name":"probe","version":"1.0.0","private":true}' > "$VHOME/$1/package.json"
}
node_use() { fc_env node -e 'console.log("is-number:", require("is-number")(5))'; }
needs_npm() { fc_need npm node; }
npm_install() {
    (cd "$VHOME/proj-npm" && fc_env npm install --no-audit --no-fund --no-update-notifier "$@" >>"$LOGS/npm.out" 2>&1 && node_use)
}
populate_npm() { node_project proj-npm && npm_install is-number@7.0.0; }
check_npm() { rm -rf "$VHOME/proj-npm/node_modules"; npm_install; }

needs_yarn() { fc_need yarnpkg node; }
yarn_install() {
    local yarn_env=()
    [ "$(id -u)" = 0 ] && yarn_env=(XDG_CACHE_HOME="$VHOME/.cache")
    (cd "$VHOME/proj-yarn" && fc_env "${yarn_env[@]}" yarnpkg "$@" >>"$LOGS/yarn.out" 2>&1 && node_use)
}
populate_yarn() { node_project proj-yarn && yarn_install add is-number@7.0.0; }
check_yarn() { rm -rf "$VHOME/proj-yarn/node_modules"; yarn_install install --frozen-lockfile; }

# ---- pip: a local source package (wheel built and cached) and one from a local index (the download
# goes through pip's HTTP cache); afterwards both install again -----------------------------------------
needs_pip() {
    /usr/bin/python3 -c 'import ensurepip, setuptools, wheel' 2>/dev/null ||
        fc_die "python3-venv, python3-setuptools and python3-wheel needed"
}
pip_run() { # inside: pip_run PIP-OPTIONS
    fc_start_server "$FIX/index"
    local pip=$HOME/venv/bin/pip
    $pip install $1 --no-index --no-build-isolation "$FIX/hellopkg-1.0.tar.gz" &&
        $pip install $1 --no-build-isolation --trusted-host 127.0.0.1 --index-url "http://127.0.0.1:$PORT/simple/" hellopkg2 &&
        "$HOME/venv/bin/python" -c 'import hellopkg, hellopkg2; print("imported", hellopkg.hi())'
}
pip_filter() { grep -E 'Stored in|Successfully|imported|rror|No such'; }
populate_pip() {
    fc_fixture sdist hellopkg "$FIX/hellopkg-1.0.tar.gz"
    fc_fixture sdist hellopkg2 "$FIX/index/simple/hellopkg2/hellopkg2-1.0.tar.gz"
    fc_env /usr/bin/python3 -m venv --system-site-packages "$VHOME/venv" || return 1
    fc_inside pip_run "" 2>&1 | pip_filter
}
check_pip() { fc_inside pip_run "--force-reinstall --no-deps" 2>&1 | pip_filter; }

# ---- Mesa: GL programs on llvmpipe, a success is a program still drawing when the timeout stops it;
# afterwards they run again and write their shader cache again ------------------------------------------
needs_mesa() { fc_need Xvfb glxinfo glxgears es2gears_x11; }
mesa_run() { # inside
    fc_start_xvfb
    glxinfo -B 2>&1 | grep -E 'OpenGL (renderer|version) string'
    local prog rc ok=0
    for prog in glxgears es2gears_x11; do
        timeout 4 $prog >>"$LOGS/mesa.out" 2>&1
        rc=$?
        if [ $rc = 124 ]; then echo "$prog ran until stopped"; else echo "$prog exited $rc"; ok=1; fi
    done
    return $ok
}
populate_mesa() { fc_inside mesa_run; }
check_mesa() { fc_inside mesa_run && compgen -G "$VHOME/.cache/mesa_shader_cache*/*" >/dev/null; }

# ---- tumbler: a normal and a large thumbnail of a PNG from the thumbnailer service; afterwards again --
needs_thumbnails() {
    fc_need dbus-run-session gdbus
    [ -e /usr/share/dbus-1/services/org.xfce.Tumbler.Thumbnailer1.service ] || fc_die "tumbler missing"
}
thumbnails_session() { # inside the D-Bus session
    local uri="file://$HOME/Pictures/probe.png" md5 flavor
    md5=$(printf '%s' "$uri" | md5sum | cut -d' ' -f1)
    # one flavor at a time: a second request for the same file can replace the first in the queue
    for flavor in normal large; do
        gdbus call --session --dest org.freedesktop.thumbnails.Thumbnailer1 \
            --object-path /org/freedesktop/thumbnails/Thumbnailer1 \
            --method org.freedesktop.thumbnails.Thumbnailer1.Queue "['$uri']" "['image/png']" "$flavor" default 0 >/dev/null || return 1
        fc_wait_for "$RUN_TIMEOUT" test -s "$HOME/.cache/thumbnails/$flavor/$md5.png" || { echo "no $flavor thumbnail"; return 1; }
    done
    echo "thumbnails made"
}
thumbnails_run() { fc_session thumbnails_session || { echo "no thumbnails (see $LOGS/dbus.log)"; return 1; }; }
populate_thumbnails() {
    mkdir -p "$VHOME/Pictures" && fc_fixture png "$VHOME/Pictures/probe.png" 400 300
    fc_inside thumbnails_run
}
check_thumbnails() { fc_inside thumbnails_run; }

# ---- ccache: a compile, cached; its setting written; afterwards it compiles again -------------------------
needs_ccache() { fc_need ccache gcc; }
ccache_cc() {
    (cd "$VHOME/src/cc" && fc_offline ccache gcc -c a.c -o a.o >>"$LOGS/ccache.out" 2>&1 && [ -s a.o ])
}
populate_ccache() {
    mkdir -p "$VHOME/src/cc" && printf 'int main(void) { return 0; }\n' > "$VHOME/src/cc/a.c"
    fc_offline ccache -M 6G >>"$LOGS/ccache.out" 2>&1 && ccache_cc && ccache_cc
}
check_ccache() { rm -f "$VHOME/src/cc/a.o"; ccache_cc; }

# ---- Go modules: a module from a file:// proxy in the home; afterwards the build fetches it again -------
needs_gomod() { fc_need go; }
gomod_build() {
    (cd "$VHOME/src/app" && fc_offline env GOFLAGS=-mod=mod GOPROXY="file://$VHOME/goproxy" GOSUMDB=off \
        go build -o app . >>"$LOGS/gomod.out" 2>&1 && ./app)
}
populate_gomod() {
    local p=$VHOME/goproxy/example.com/lib/@v lib=$VHOME/src/lib
    mkdir -p "$p" "$lib" "$VHOME/src/app"
    printf 'module example.com/lib\n\ngo 1.19\n' > "$lib/go.mod"
    printf 'package lib\n\nfunc Hello() string { return "hello from a module" }\n' > "$lib/lib.go"
    echo v1.0.0 > "$p/list" && cp "$lib/go.mod" "$p/v1.0.0.mod"
    echo '{"Version":"v1.0.0","Time":"2024-01-01T00:00:00Z"}' > "$p/v1.0.0.info"
    "$FC_PYTHON" -c 'import sys, zipfile
z = zipfile.ZipFile(sys.argv[1], "w")
for f in ("go.mod", "lib.go"): z.write(sys.argv[2] + "/" + f, "example.com/lib@v1.0.0/" + f)' "$p/v1.0.0.zip" "$lib"
    printf 'module example.com/app\n\ngo 1.19\n\nrequire example.com/lib v1.0.0\n' > "$VHOME/src/app/go.mod"
    printf 'package main\n\nimport (\n\t"fmt"\n\t"example.com/lib"\n)\n\nfunc main() { fmt.Println(lib.Hello()) }\n' > "$VHOME/src/app/main.go"
    gomod_build
}
check_gomod() { rm -f "$VHOME/src/app/app"; gomod_build; }

# ---- Gradle: an offline Java build (its user home named, since Gradle takes the home from the password
# database; with the network, as its daemon wants a local address); the daemon is stopped; afterwards
# it builds again -------------------------------------------------------------------------------------------
needs_gradle() { fc_need gradle java; }
gradle_build() {
    (cd "$VHOME/src/gp" && fc_env GRADLE_USER_HOME="$VHOME/.gradle" gradle --offline -q build \
        >>"$LOGS/gradle.out" 2>&1; local rc=$?
     fc_env GRADLE_USER_HOME="$VHOME/.gradle" gradle --stop >>"$LOGS/gradle.out" 2>&1
     [ $rc = 0 ] && [ -s build/libs/demo.jar ])
}
populate_gradle() {
    mkdir -p "$VHOME/src/gp/src/main/java/demo"
    echo "apply plugin: 'java'" > "$VHOME/src/gp/build.gradle"
    echo "rootProject.name='demo'" > "$VHOME/src/gp/settings.gradle"
    printf 'package demo;\npublic class Main { public static void main(String[] a) { } }\n' \
        > "$VHOME/src/gp/src/main/java/demo/Main.java"
    mkdir -p "$VHOME/.gradle" && printf 'repoPassword=secret\n' > "$VHOME/.gradle/gradle.properties"
    gradle_build
}
check_gradle() { rm -rf "$VHOME/src/gp/build"; gradle_build; }

# ---- Cargo: an offline build against a file:// registry and a file:// git dependency, then an install
# of the program; afterwards it builds again (the registry and the git repository are still there) ----
needs_cargo() { fc_need cargo git sha256sum; }
cargo_git() { fc_env git -c user.name=fc -c user.email=fc@localhost "$@" >>"$LOGS/cargo.out" 2>&1; }
cargo_build() {
    (cd "$VHOME/src/capp" && fc_offline cargo build >>"$LOGS/cargo.out" 2>&1 &&
        [ "$(fc_offline ./target/debug/capp)" = "tiny 42" ])
}
populate_cargo() {
    local s=$VHOME/src reg=$VHOME/src/reg sum d
    mkdir -p "$s" "$reg/dl" "$reg/index/ti/ny" "$VHOME/.cargo"
    (cd "$s" && fc_offline cargo new --lib --vcs none tinydep && fc_offline cargo new --lib --vcs none gitdep &&
        fc_offline cargo new --vcs none capp) >>"$LOGS/cargo.out" 2>&1 || return 1
    sed -i '/^edition/a description = "d"\nlicense = "MIT"' "$s/tinydep/Cargo.toml"
    echo 'pub fn n() -> u32 { 42 }' > "$s/tinydep/src/lib.rs"
    echo 'pub fn name() -> &'"'"'static str { "tiny" }' > "$s/gitdep/src/lib.rs"
    (cd "$s/tinydep" && fc_offline cargo package --allow-dirty --no-verify >>"$LOGS/cargo.out" 2>&1) || return 1
    cp "$s/tinydep/target/package/tinydep-0.1.0.crate" "$reg/dl/" || return 1
    sum=$(sha256sum "$reg/dl/tinydep-0.1.0.crate" | cut -d' ' -f1)
    echo '{"dl":"file://'"$reg"'/dl/{crate}-{version}.crate"}' > "$reg/index/config.json"
    echo '{"name":"tinydep","vers":"0.1.0","deps":[],"cksum":"'"$sum"'","features":{},"yanked":false}' \
        > "$reg/index/ti/ny/tinydep"
    for d in "$reg/index" "$s/gitdep"; do
        cargo_git -C "$d" init -q && cargo_git -C "$d" add -A && cargo_git -C "$d" commit -qm init || return 1
    done
    # the user's own settings and login beside the caches
    printf '[registries.local]\nindex = "file://%s/index"\n' "$reg" > "$VHOME/.cargo/config.toml"
    printf '[registries.local]\ntoken = "secret"\n' > "$VHOME/.cargo/credentials.toml"
    printf 'tinydep = { version = "0.1", registry = "local" }\ngitdep = { git = "file://%s/gitdep" }\n' "$s" \
        >> "$s/capp/Cargo.toml"
    echo 'fn main() { println!("{} {}", gitdep::name(), tinydep::n()); }' > "$s/capp/src/main.rs"
    cargo_build && (cd "$s/capp" && fc_offline cargo install --path . >>"$LOGS/cargo.out" 2>&1)
}
check_cargo() { rm -rf "$VHOME/src/capp/target"; cargo_build && [ -x "$VHOME/.cargo/bin/capp" ]; }

# ---- Bazel: a genrule and a rule that makes a tree artifact (read-only folders), built offline with the
# home's and the workspace's .bazelrc; its server is stopped; afterwards it builds again. Debian's Bazel
# links every output base to its installation in /usr/share/bazel, which must come through intact ----
needs_bazel() { fc_need bazel; [ -d /usr/share/bazel ] || fc_die "/usr/share/bazel missing"; }
bazel_install_listing() { find /usr/share/bazel -printf '%y %s %T@ %l %P\n' 2>/dev/null | sort | md5sum; }
bazel_run() { # inside, where the loopback the client and server talk over is up
    cd "$HOME/bz" || return 1
    bazel build //:t //:g >>"$LOGS/bazel.out" 2>&1
    local rc=$?
    bazel shutdown >>"$LOGS/bazel.out" 2>&1
    [ $rc = 0 ] && [ -f bazel-bin/t_dir/sub/f.txt ] && [ "$(cat bazel-bin/g.txt)" = "made by a genrule" ]
}
populate_bazel() {
    local w=$VHOME/bz
    mkdir -p "$w" && touch "$w/WORKSPACE"
    cat > "$w/defs.bzl" <<'EOF'
def _impl(ctx):
    d = ctx.actions.declare_directory(ctx.label.name + "_dir")
    ctx.actions.run_shell(outputs = [d], command = "mkdir -p %s/sub && echo hi > %s/sub/f.txt" % (d.path, d.path))
    return [DefaultInfo(files = depset([d]))]

treegen = rule(implementation = _impl)
EOF
    cat > "$w/BUILD" <<'EOF'
load(":defs.bzl", "treegen")

treegen(name = "t")

genrule(name = "g", srcs = ["msg.in"], outs = ["g.txt"], cmd = "cp $< $@")
EOF
    echo "made by a genrule" > "$w/msg.in"
    echo "build --color=no" > "$VHOME/.bazelrc"
    echo "build --show_progress_rate_limit=5" > "$w/.bazelrc"
    bazel_install_listing > "$WORK/bazel-install.md5"
    fc_inside bazel_run
}
check_bazel() {
    [ "$(bazel_install_listing)" = "$(cat "$WORK/bazel-install.md5")" ] ||
        { echo "/usr/share/bazel changed during the removal"; return 1; }
    fc_inside bazel_run
}

# ---- the check ------------------------------------------------------------------------------------------
fc_start "$@"
FC_ENV_EXTRA=(MESA_SHADER_CACHE_DIR="$VHOME/.cache" SITE_PORT="$SITE_PORT")
# Debian's yarnpkg loads its modules from /usr/share/nodejs, which a Node.js built elsewhere does
# not search.
[ -d /usr/share/nodejs ] && FC_ENV_EXTRA+=(NODE_PATH=/usr/share/nodejs)
fc_populate_all
fc_selftest
fc_list before
fc_removal
fc_list after
fc_compare
fc_check_all
fc_result
}
