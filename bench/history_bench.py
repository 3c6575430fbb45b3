#!/usr/bin/env python3
"""What the kept history and the listing for scripts cost.

    bench/history_bench.py [--build DIR] [--data DIR] [--files N] [--rounds R]
                           [--reference PATH] [--days D]

Builds sweepkin and history_bench (SWEEPKIN_BUILD_BENCH=ON) in --build, then:

  listing: `sweepkin --list --json` against `sweepkin --selftest` (the reference), R paired,
           interleaved rounds (the order inside a pair alternates) on a make_cache_tree.py tree
           of N files as HOME/.cache/google-chrome, warm page cache;
  writing: history_bench, a simulated year (D days) of four measurements a day over 40 rows and
           a weekly clean, each record written to the store and timed until it is on disk,
           against appending the same record as a line of text and syncing it (the reference);
           the store's final size against that text file's;
  memory:  with --reference (a tray built from the commit before the history, with tests so it
           honours SWEEPKIN_TEST_WATCH_MS), both trays on one Xvfb display in turn, R times each,
           a home with a year-full store, VmRSS after their third watch measurement.

Prints medians and ratios as Markdown.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from watch_bench import Tray  # noqa: E402


def timed(cmd, env):
    start = time.perf_counter()
    subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def rollup(pid):
    """Resident, proportional and private (clean + dirty) memory in KiB."""
    fields = {}
    for line in open(f"/proc/{pid}/smaps_rollup"):
        parts = line.split()
        if len(parts) == 3 and parts[2] == "kB":
            fields[parts[0].rstrip(":")] = int(parts[1])
    return {"Rss": fields["Rss"], "Pss": fields["Pss"],
            "Private": fields["Private_Clean"] + fields["Private_Dirty"]}


def history_figures(exe, folder, days):
    out = subprocess.run([exe, folder, "--days", str(days)], check=True, text=True,
                         stdout=subprocess.PIPE).stdout
    return {k: float(v) for k, v in (line.split() for line in out.splitlines())}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--data", default="/tmp/sweepkin-history-bench")
    ap.add_argument("--files", type=int, default=200_000)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--days", type=int, default=365)
    ap.add_argument("--reference")
    args = ap.parse_args()

    if not os.path.exists(os.path.join(args.build, "build.ninja")):
        subprocess.run(["cmake", "-S", ROOT, "-B", args.build, "-G", "Ninja",
                        "-DSWEEPKIN_BUILD_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "-B", args.build, "-DSWEEPKIN_BUILD_BENCH=ON"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", args.build, "--target", "sweepkin", "history_bench"],
                   check=True, stdout=subprocess.DEVNULL)
    sweepkin = os.path.join(args.build, "sweepkin")

    home = os.path.join(args.data, "home")
    tree = os.path.join(home, ".cache", "google-chrome")
    made = os.path.join(args.data, f"tree-{args.files}")  # a tree from an earlier run is kept
    if not os.path.exists(made):
        shutil.rmtree(args.data, ignore_errors=True)
        print(f"generating {args.files} files under {tree}", file=sys.stderr)
        subprocess.run([sys.executable, os.path.join(HERE, "make_cache_tree.py"), tree,
                        "--files", str(args.files)], check=True, stdout=subprocess.DEVNULL)
        open(made, "w").close()
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
    env.update(HOME=home, LANG="C.UTF-8")

    listing, selftest, ratios = [], [], []
    timed([sweepkin, "--selftest"], env)  # warms the page cache
    for r in range(args.rounds):
        pair = [("list", [sweepkin, "--list", "--json"]), ("self", [sweepkin, "--selftest"])]
        if r % 2:
            pair.reverse()
        times = {name: timed(cmd, env) for name, cmd in pair}
        listing.append(times["list"])
        selftest.append(times["self"])
        ratios.append(times["list"] / times["self"])

    hb = os.path.join(args.build, "bench", "history_bench")
    store_dir = os.path.join(args.data, "store")
    h = history_figures(hb, store_dir, args.days)

    memory = None
    if args.reference:
        home = os.path.join(args.data, "tray-home")  # a small home: the tray, not the walk
        shutil.rmtree(home, ignore_errors=True)
        state = os.path.join(home, ".local", "state", "Sweepkin")
        os.makedirs(state, exist_ok=True)
        os.makedirs(os.path.join(home, ".config", "Sweepkin"), exist_ok=True)
        with open(os.path.join(home, ".config", "Sweepkin", "Sweepkin.conf"), "w") as f:
            f.write("[General]\nacceptedEULAv1=true\ndidInitialLoginSetup=true\nnotifyBytes=0\n")
        for name in ("spotify", "pip", "yarn"):
            os.makedirs(os.path.join(home, ".cache", name))
            with open(os.path.join(home, ".cache", name, "data"), "wb") as f:
                f.write(bytes(2_000_000))
        display = f":{random.randint(300, 900)}"
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten",
                                 "tcp"], stderr=subprocess.DEVNULL)
        time.sleep(1)
        memory = {"sweepkin": [], "reference": []}
        try:
            for r in range(args.rounds):
                for name, exe in (("sweepkin", sweepkin), ("reference", args.reference)):
                    shutil.copy(os.path.join(store_dir, "history.sqlite"), state)
                    tray = Tray(exe, home, 1000, display)
                    tray.wait_for(3)
                    time.sleep(0.5)
                    memory[name].append(rollup(tray.proc.pid))
                    tray.stop()
        finally:
            xvfb.terminate()
            xvfb.wait()

    med = statistics.median
    print(f"# {args.files} files under {tree}; {args.rounds} paired rounds, medians\n")
    print("| | sweepkin | reference | ratio |\n|---|---|---|---|")
    print(f"| `--list --json` against `--selftest` | {med(listing) * 1000:.0f} ms | "
          f"{med(selftest) * 1000:.0f} ms | {med(ratios):.3f}x |")
    print(f"| one history write (median), against a synced line of text | "
          f"{h['store_write_median_ms']:.2f} ms | {h['text_write_median_ms']:.2f} ms | "
          f"{h['store_write_median_ms'] / h['text_write_median_ms']:.1f}x |")
    print(f"| a day's first write, which also thins (median) | "
          f"{h['store_write_thinning_median_ms']:.2f} ms | | |")
    print(f"| history write p95 / max, against the text line's | {h['store_write_p95_ms']:.1f} / "
          f"{h['store_write_max_ms']:.1f} ms | {h['text_write_p95_ms']:.1f} / "
          f"{h['text_write_max_ms']:.1f} ms | |")
    print(f"| store after {args.days} days x 4 x 40 rows ({h['records_kept']:.0f} records kept), "
          f"against the text file | {h['store_bytes'] / 1e6:.2f} MB | "
          f"{h['text_bytes'] / 1e6:.2f} MB | {h['store_bytes'] / h['text_bytes']:.2f}x |")
    if memory:
        for key, what in (("Rss", "resident (RSS)"), ("Pss", "proportional (PSS)"),
                          ("Private", "private to the process")):
            a = med(m[key] for m in memory["sweepkin"])
            b = med(m[key] for m in memory["reference"])
            print(f"| tray memory after 3 watch measurements, {what}, against the build before "
                  f"the history | {a / 1024:.1f} MiB | {b / 1024:.1f} MiB | {a / b:.3f}x "
                  f"({(a - b) / 1024:+.2f} MiB) |")
    print(f"\nBudgets: listing at most 1.1x the self-test; one write at most 5 ms; the store "
          f"under 2 MB; the tray within 1 MB.")


if __name__ == "__main__":
    main()
