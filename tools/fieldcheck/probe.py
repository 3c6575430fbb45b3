#!/usr/bin/env python3
"""The probe site's server on 127.0.0.1 and the reports its pages send back.

  probe.py serve ROOT REPORT PORTFILE [PORT]   serve ROOT; each /report?... query becomes one JSON
                                               line in REPORT; the port is written to PORTFILE
  probe.py seen REPORT KIND APP PHASE          exit 0 when such a report arrived
  probe.py judge REPORT APP PHASE              prints whether the read page saw the probe's cookie
                                               and local storage; exit 1 when either is missing
"""
import http.server
import json
import os
import sys
import urllib.parse


def serve(root, report, portfile, port=0):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **k):
            super().__init__(*a, directory=root, **k)

        def log_message(self, fmt, *args):
            sys.stderr.write("%s\n" % (fmt % args))

        def end_headers(self):
            path = urllib.parse.urlparse(self.path).path
            if path in ("/", "/index.html"):
                self.send_header("Set-Cookie", "sweepkinhdr=1; Max-Age=31536000; Path=/")
            if path == "/report":
                self.send_header("Cache-Control", "no-store")
            elif path.endswith((".html", "/")):
                self.send_header("Cache-Control", "no-cache")
            else:  # scripts, styles, images, a package index's files: what a cache keeps
                self.send_header("Cache-Control", "public, max-age=86400")
            super().end_headers()

        def do_GET(self):
            u = urllib.parse.urlparse(self.path)
            if u.path == "/report":
                q = {k: v[0] for k, v in urllib.parse.parse_qs(u.query, keep_blank_values=True).items()}
                q["cookie_header"] = self.headers.get("Cookie", "")
                with open(report, "a") as f:
                    f.write(json.dumps(q) + "\n")
                self.send_response(204)
                self.end_headers()
                return None
            if u.path == "/favicon.ico":
                self.send_response(404)
                self.end_headers()
                return None
            return super().do_GET()

    srv = http.server.ThreadingHTTPServer(("127.0.0.1", int(port)), Handler)
    with open(portfile + ".tmp", "w") as f:
        f.write(str(srv.server_address[1]))
    os.rename(portfile + ".tmp", portfile)
    srv.serve_forever()


def last(report, kind, app, phase):
    found = None
    for line in open(report):
        try:
            d = json.loads(line)
        except ValueError:
            continue
        if d.get("kind") == kind and d.get("b") == app and d.get("phase") == phase:
            found = d
    return found


def judge(report, app, phase):
    d = last(report, "read", app, phase)
    if d is None:
        print("FAIL  %-9s no read-back: the page never reported (the program did not load it; see the logs)" % app)
        return 1
    cookie, ls = d.get("cookie", ""), d.get("ls", "")
    cookie_ok = "sweepkinprobe=1" in [c.strip() for c in cookie.split(";")]
    print("%-5s %-9s cookie (document.cookie=[%s], Cookie header=[%s])"
          % ("PASS" if cookie_ok else "FAIL", app, cookie, d.get("cookie_header", "")))
    print("%-5s %-9s localStorage (sweepkinprobe=[%s]) %s" % ("PASS" if ls == "1" else "FAIL", app, ls, d.get("extra", "")))
    return 0 if cookie_ok and ls == "1" else 1


def main(argv):
    cmd, args = argv[0], argv[1:]
    if cmd == "serve":
        serve(*args)
        return 0
    if cmd == "seen":
        return 0 if last(*args) else 1
    if cmd == "judge":
        return judge(*args)
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
