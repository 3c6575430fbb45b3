#!/usr/bin/env python3
"""Files the field checks feed to the applications, the same on every run (seeded).

  fixtures.py site DIR           the probe site: index.html writes a cookie (from the page and
                                 from a Set-Cookie header), local storage and a Cache API entry,
                                 and loads cacheable scripts, styles and images; read.html reads
                                 them back; both report to /report?kind=write|read&b=APP&phase=...
  fixtures.py png PATH W H       a W x H PNG of noise
  fixtures.py sdist NAME DEST    a source package NAME 1.0 (setuptools) as DEST (.tar.gz)
"""
import io
import os
import random
import struct
import sys
import tarfile
import zlib

rnd = random.Random(42)


def png(path, w, h):
    w, h = int(w), int(h)
    raw = b"".join(b"\0" + bytes(rnd.getrandbits(8) for _ in range(w * 3)) for _ in range(h))

    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def js(path, n):
    lines = ["(function(){var acc=0;"]
    for i in range(n):
        lines.append("function f%d_%d(x){var s=%d;for(var i=0;i<x;i++){s=(s*31+i)%%1000003;}return s+'%x';}"
                     "acc+=f%d_%d(3).length;" % (n, i, rnd.randint(1, 99999), rnd.getrandbits(64), n, i))
    lines.append("window.probeAcc=(window.probeAcc||0)+acc;})();")
    with open(path, "w") as f:
        f.write("\n".join(lines))


def css(path, n):
    with open(path, "w") as f:
        f.write("\n".join(".c%d_%x{margin:%dpx;color:#%06x;}" % (i, rnd.getrandbits(32), i % 50, rnd.getrandbits(24))
                          for i in range(n)))


REPORT_JS = """
var q = new URLSearchParams(location.search);
function report(kind, cookie, ls, extra) {
  fetch("/report?kind=" + kind + "&b=" + q.get("b") + "&phase=" + q.get("phase") +
        "&cookie=" + encodeURIComponent(cookie) + "&ls=" + encodeURIComponent(ls) +
        "&extra=" + encodeURIComponent(extra), {cache: "no-store"});
}
"""

INDEX = """<!doctype html>
<html><head><meta charset="utf-8"><title>sweepkin probe: write</title>
<link rel="stylesheet" href="/s1.css"><link rel="stylesheet" href="/s2.css">
<script src="/a1.js"></script><script src="/a2.js"></script></head>
<body><h1>probe write</h1><img src="/i1.png"><img src="/i2.png"><pre id="out">pending</pre>
<script>%s
document.cookie = "sweepkinprobe=1; max-age=31536000; path=/";
localStorage.setItem("sweepkinprobe", "1");
function done(extra) {
  document.getElementById("out").textContent = "WROTE cookie=[" + document.cookie + "] ls=[" +
      localStorage.getItem("sweepkinprobe") + "] " + extra;
  report("write", document.cookie, localStorage.getItem("sweepkinprobe"), extra);
}
done("sync");
if (window.caches) {
  caches.open("sweepkinprobe").then(function (c) { return c.add("/a1.js"); })
    .then(function () { done("cacheapi=ok"); }, function (e) { done("cacheapi=err:" + e); });
}
</script></body></html>
""" % REPORT_JS

READ = """<!doctype html>
<html><head><meta charset="utf-8"><title>sweepkin probe: read</title></head>
<body><h1>probe read</h1><pre id="out">pending</pre>
<script>%s
var c = document.cookie, l = localStorage.getItem("sweepkinprobe");
document.getElementById("out").textContent = "COOKIE=[" + c + "] LS=[" + l + "]";
function send(extra) {
  document.getElementById("out").textContent += " " + extra;
  report("read", c, l, extra);
}
send("sync");
if (window.caches) {
  caches.has("sweepkinprobe").then(function (h) { send("cacheapi=" + h); }, function (e) { send("cacheapi=err"); });
}
</script></body></html>
""" % REPORT_JS


def site(d):
    os.makedirs(d, exist_ok=True)
    png(os.path.join(d, "i1.png"), 120, 120)
    png(os.path.join(d, "i2.png"), 100, 100)
    js(os.path.join(d, "a1.js"), 400)
    js(os.path.join(d, "a2.js"), 300)
    css(os.path.join(d, "s1.css"), 900)
    css(os.path.join(d, "s2.css"), 700)
    for name, text in (("index.html", INDEX), ("read.html", READ)):
        with open(os.path.join(d, name), "w") as f:
            f.write(text)


def sdist(name, dest):
    files = {"pyproject.toml": '[build-system]\nrequires = ["setuptools", "wheel"]\n'
                               'build-backend = "setuptools.build_meta"\n'
                               '[project]\nname = "%s"\nversion = "1.0"\n' % name,
             "%s/__init__.py" % name: "def hi():\n    return 'hi'\n"}
    os.makedirs(os.path.dirname(dest) or ".", exist_ok=True)
    with tarfile.open(dest, "w:gz") as t:
        for rel, text in files.items():
            data = text.encode()
            info = tarfile.TarInfo("%s-1.0/%s" % (name, rel))
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))


if __name__ == "__main__":
    commands = {"site": site, "png": png, "sdist": sdist}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        sys.exit(__doc__)
    commands[sys.argv[1]](*sys.argv[2:])
