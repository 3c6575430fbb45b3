#!/usr/bin/env python3
"""What the tray's quiet watch costs: one watch measurement of a home with 50,000 cache files,
and the tray's resident memory after 100 of them.

    bench/watch_bench.py [--sweepkin build/sweepkin] [--data DIR] [--files N] [--rounds R]
                         [--measurements M] [--cold]

Runs the tray (a build with tests, which honours SWEEPKIN_TEST_WATCH_MS) on its own Xvfb display
with HOME=DIR/home, whose ~/.cache/google-chrome is a make_cache_tree.py tree, the agreement
accepted, notices off and no D-Bus (so mains power). The tray writes how many measurements it has
made to its test dump; around each of R watch measurements (3 s apart, warm page cache) it reads
/proc/PID/stat (CPU time) and /proc/PID/io; in another run, 20 s apart, strace -c -f counts the
system calls of one (root, or ptrace allowed).
`du -sb --apparent-size` on the same tree, R times, is the reference. With --cold (root), the
page cache is dropped before one more measurement to show what it reads from the disk. Then the
watch runs every 0.5 s until M measurements and the tray's VmRSS is read after the 1st, 10th and
Mth. Prints Markdown.
"""

import argparse
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def io(pid):
    return {k: int(v) for k, v in (l.split(": ") for l in open(f"/proc/{pid}/io").read().split("\n") if l)}


def status(pid, key):
    return int(re.search(rf"^{key}:\s+(\d+) kB", open(f"/proc/{pid}/status").read(), re.M).group(1))


class Tray:
    def __init__(self, exe, home, interval_ms, display):
        self.dump = os.path.join(home, "..", "dump")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_"))}
        env.update(HOME=home, DISPLAY=display, QT_QPA_PLATFORM="xcb", SWEEPKIN_TEST_DUMP=self.dump,
                   SWEEPKIN_TEST_WATCH_MS=str(interval_ms), XDG_RUNTIME_DIR=os.path.join(home, "..", "run"),
                   DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent")
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        if os.path.exists(self.dump + ".tray"):
            os.remove(self.dump + ".tray")  # an earlier tray's count
        self.proc = subprocess.Popen([exe], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def count(self):
        try:
            return int(re.search(r"@measurements (\d+)", open(self.dump + ".tray").read()).group(1))
        except (OSError, AttributeError):
            return 0

    def wait_for(self, n, timeout=120):
        deadline = time.time() + timeout
        while self.count() < n:
            if time.time() > deadline or self.proc.poll() is not None:
                sys.exit(f"the tray did not reach {n} measurements")
            time.sleep(0.01)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def syscall_counts(path):
    """The calls column of an `strace -c` summary, by system call name."""
    counts = {}
    for line in open(path):
        parts = line.split()
        if len(parts) >= 5 and parts[3].isdigit() and parts[-1] != "total":
            counts[parts[-1]] = int(parts[3])
    return counts


def strace_counts(pid, tray, n):
    """System calls of the tray's threads from measurement n-1 to n."""
    out = os.path.join(os.path.dirname(tray.dump), "strace.txt")
    tray.wait_for(n - 1)
    st = subprocess.Popen(["strace", "-f", "-c", "-o", out, "-p", str(pid)], stderr=subprocess.DEVNULL)
    time.sleep(0.5)  # attached before the next turn starts
    tray.wait_for(n)
    st.send_signal(signal.SIGINT)
    st.wait()
    return syscall_counts(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sweepkin", default=os.path.join(ROOT, "build", "sweepkin"))
    ap.add_argument("--data", default="/tmp/sweepkin-watch-bench")
    ap.add_argument("--files", type=int, default=50_000)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--measurements", type=int, default=100)
    ap.add_argument("--cold", action="store_true")
    args = ap.parse_args()

    shutil.rmtree(args.data, ignore_errors=True)
    home = os.path.join(args.data, "home")
    tree = os.path.join(home, ".cache", "google-chrome")
    subprocess.run([sys.executable, os.path.join(HERE, "make_cache_tree.py"), tree, "--files",
                    str(args.files)], check=True, stdout=subprocess.DEVNULL)
    os.makedirs(os.path.join(home, ".config", "Sweepkin"))
    with open(os.path.join(home, ".config", "Sweepkin", "Sweepkin.conf"), "w") as f:
        f.write("[General]\nacceptedEULAv1=true\ndidInitialLoginSetup=true\nnotifyBytes=0\n")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))  # so that cleanup runs
    display = f":{random.randint(300, 900)}"
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            stderr=subprocess.DEVNULL)
    time.sleep(1)
    tray = None
    try:
        du = ["du", "-sb", "--apparent-size", tree]
        du_cpu = []
        for _ in range(args.rounds):
            before = os.times()
            subprocess.run(du, check=True, stdout=subprocess.DEVNULL)
            after = os.times()
            du_cpu.append(after.children_user + after.children_system - before.children_user - before.children_system)
        out = os.path.join(args.data, "du-strace.txt")
        subprocess.run(["strace", "-f", "-c", "-o", out] + du, check=True, stdout=subprocess.DEVNULL)
        du_calls = syscall_counts(out)

        tray = Tray(args.sweepkin, home, 3000, display)
        pid = tray.proc.pid
        cpu, reads = [], []
        tray.wait_for(1)
        for n in range(2, args.rounds + 2):
            c0, i0 = cpu_seconds(pid), io(pid)
            tray.wait_for(n)
            c1, i1 = cpu_seconds(pid), io(pid)
            cpu.append(c1 - c0)
            reads.append({k: i1[k] - i0[k] for k in i0})
        cold = None
        if args.cold:
            n = tray.count()
            subprocess.run(["sync"])
            open("/proc/sys/vm/drop_caches", "w").write("3\n")
            i0, c0 = io(pid), cpu_seconds(pid)
            tray.wait_for(n + 1)
            cold = ({k: io(pid)[k] - i0[k] for k in i0}, cpu_seconds(pid) - c0)
        tray.stop()

        # Traced, a measurement takes many times as long: turns far enough apart that each ends
        # before the next (a new turn would supersede one still running).
        tray = Tray(args.sweepkin, home, 20_000, display)
        calls = strace_counts(tray.proc.pid, tray, 2)
        tray.stop()

        tray = Tray(args.sweepkin, home, 500, display)
        rss = {}
        for n in sorted({1, 10, args.measurements}):
            tray.wait_for(n, timeout=args.measurements * 5)
            rss[n] = status(tray.proc.pid, "VmRSS")
        hwm = status(tray.proc.pid, "VmHWM")
        tray.stop()
    finally:
        if tray:
            tray.stop()
        xvfb.terminate()
        xvfb.wait()

    med = lambda key: statistics.median(r[key] for r in reads)
    print(f"# {args.files} files under {tree}; {args.rounds} warm measurements, medians\n")
    print("| one measurement | sweepkin watch | `du -sb --apparent-size` | ratio |")
    print("|---|---|---|---|")
    print(f"| CPU time (user + system) | {statistics.median(cpu) * 1000:.0f} ms | "
          f"{statistics.median(du_cpu) * 1000:.0f} ms | {statistics.median(cpu) / statistics.median(du_cpu):.2f}x |")
    for name in ("getdents64", "statx", "newfstatat", "openat", "close"):
        print(f"| `{name}` calls | {calls.get(name, 0):,} | {du_calls.get(name, 0):,} | |")
    total, du_total = sum(calls.values()), sum(du_calls.values())
    print(f"| all system calls | {total:,} | {du_total:,} | {total / du_total:.2f}x |")
    print(f"| `read_bytes` (from the disk) / `rchar` / `syscr` | {med('read_bytes'):,.0f} / "
          f"{med('rchar'):,.0f} / {med('syscr'):,.0f} | | |")
    if cold:
        print(f"| cold page cache: `read_bytes` / CPU time | {cold[0]['read_bytes']:,} / "
              f"{cold[1] * 1000:.0f} ms | | |")
    print("\n| tray resident memory (VmRSS) | KiB |\n|---|---|")
    for n, kib in rss.items():
        print(f"| after measurement {n} | {kib:,} |")
    print(f"| peak (VmHWM) | {hwm:,} |")


if __name__ == "__main__":
    main()
