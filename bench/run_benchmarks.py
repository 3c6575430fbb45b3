#!/usr/bin/env python3
"""Times the engine against the standard tools on one warm, browser-like cache tree.

    bench/run_benchmarks.py [--build DIR] [--data DIR] [--files N] [--rounds R]
                            [--delete-rounds D] [--sweepkin PATH]

Builds measure_bench and delete_bench (SWEEPKIN_BUILD_BENCH=ON) in --build, generates the tree
once under --data (default /tmp/sweepkin-bench) as HOME/Library/Caches/CloudKit, then runs
paired, interleaved rounds (the order inside a pair alternates) because the same command drifts
by up to 20% between runs on a shared machine:

  measuring: measure_bench (directorySize) against `du -sb --apparent-size`, warm tree;
  deleting:  delete_bench (deleteCachePaths) against `rm -rf`, each on its own fresh copy;
  memory:    peak resident size (GNU time) of measure_bench, and of `sweepkin --selftest` when
             --sweepkin is given, on the big tree against an empty HOME.

With --sweepkin, `--clear-cloudkit-now` joins the deletion rounds. Prints medians, the median of
the per-pair ratios, and the commands, as Markdown.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def run(cmd, env=None, quiet=True):
    out = subprocess.DEVNULL if quiet else None
    subprocess.run(cmd, check=True, env=env, stdout=out)


def timed(cmd, env=None, check=True):
    start = time.perf_counter()
    proc = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if check and proc.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{proc.stderr}")
    return elapsed, proc.stdout


def peak_rss_kib(cmd, env=None):
    proc = subprocess.run(["/usr/bin/time", "-v"] + cmd, env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr)
    if not match:
        sys.exit(f"no peak memory from GNU time for {cmd}:\n{proc.stderr}")
    return int(match.group(1))


def env_with_home(home):
    env = dict(os.environ)
    env["HOME"] = home
    env["LC_ALL"] = "C"
    return env


def fresh_copy(tree, home):
    if os.path.exists(home):
        shutil.rmtree(home)
    os.makedirs(os.path.join(home, "Library", "Caches"))
    dest = os.path.join(home, "Library", "Caches", "CloudKit")
    run(["cp", "-a", tree, dest])
    return dest


def paired(contenders, rounds, prepare=None):
    """contenders: list of (label, make_cmd) where make_cmd(round) -> (cmd, env).
    Returns {label: [seconds...]} with the order rotated every round."""
    times = {label: [] for label, _ in contenders}
    for r in range(rounds):
        order = contenders[r % len(contenders):] + contenders[:r % len(contenders)]
        if r % 2 == 1:
            order = list(reversed(order))
        prepared = prepare(r) if prepare else None
        for label, make in order:
            cmd, env = make(r, prepared)
            elapsed, _ = timed(cmd, env=env)
            times[label].append(elapsed)
        print(f"  round {r + 1}/{rounds}: " +
              ", ".join(f"{l} {times[l][-1]:.3f}s" for l, _ in contenders), file=sys.stderr)
    return times


def ratio_line(times, label, baseline):
    ratios = [a / b for a, b in zip(times[label], times[baseline])]
    return (f"| {label} | {statistics.median(times[label]):.3f} s | "
            f"{statistics.median(times[baseline]):.3f} s | {statistics.median(ratios):.2f}x | "
            f"{min(ratios):.2f}x to {max(ratios):.2f}x |")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--data", default="/tmp/sweepkin-bench")
    parser.add_argument("--files", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=11)
    parser.add_argument("--delete-rounds", type=int, default=3)
    parser.add_argument("--sweepkin", help="path of a built sweepkin executable (optional)")
    args = parser.parse_args()

    run(["cmake", "-S", ROOT, "-B", args.build, "-G", "Ninja", "-DSWEEPKIN_BUILD_BENCH=ON",
         "-DSWEEPKIN_BUILD_TESTS=OFF", "-DCMAKE_BUILD_TYPE=Release"])
    run(["cmake", "--build", args.build, "-j", "2", "--target", "measure_bench", "delete_bench"])
    measure = os.path.join(args.build, "bench", "measure_bench")
    delete = os.path.join(args.build, "bench", "delete_bench")

    home = os.path.join(args.data, "home")
    tree = os.path.join(home, "Library", "Caches", "CloudKit")
    stamp = os.path.join(args.data, f"tree-{args.files}.done")
    if not os.path.exists(stamp):
        if os.path.exists(args.data):
            shutil.rmtree(args.data)
        os.makedirs(os.path.dirname(tree))
        run([sys.executable, os.path.join(HERE, "make_cache_tree.py"), tree,
             "--files", str(args.files)], quiet=False)
        open(stamp, "w").close()
    empty_home = os.path.join(args.data, "empty-home")
    os.makedirs(empty_home, exist_ok=True)

    _, out = timed([measure, tree])
    engine_total = int(out.split()[0])
    ref_total = int(subprocess.run(["sh", "-c", f"find '{tree}' -type f -printf '%s\\n' | "
                                    "awk '{s+=$1} END {print s+0}'"],
                                   stdout=subprocess.PIPE, text=True, check=True).stdout)
    if engine_total != ref_total:
        sys.exit(f"directorySize {engine_total} != find's sum of file sizes {ref_total}")

    print(f"# tree: {tree} ({args.files} files, {engine_total} bytes of regular files)",
          file=sys.stderr)
    print("measuring (warm):", file=sys.stderr)
    timed(["du", "-sb", "--apparent-size", tree])  # warm the caches
    du_cmd = ["du", "-sb", "--apparent-size", tree]
    measure_times = paired([
        ("du", lambda r, p: (du_cmd, None)),
        ("directorySize", lambda r, p: ([measure, tree], None)),
    ], args.rounds)

    print("deleting (fresh copies):", file=sys.stderr)
    copies = os.path.join(args.data, "copies")
    labels = ["rm -rf", "deleteCachePaths"] + (["--clear-cloudkit-now"] if args.sweepkin else [])

    def prepare(r):
        return {label: fresh_copy(tree, os.path.join(copies, f"h{i}"))
                for i, label in enumerate(labels)}

    def home_of(path):
        return path[: -len("/Library/Caches/CloudKit")]

    contenders = [
        ("rm -rf", lambda r, p: (["rm", "-rf", p["rm -rf"]], None)),
        ("deleteCachePaths", lambda r, p: ([delete, p["deleteCachePaths"]],
                                           env_with_home(home_of(p["deleteCachePaths"])))),
    ]
    if args.sweepkin:
        contenders.append(("--clear-cloudkit-now", lambda r, p: (
            [args.sweepkin, "--clear-cloudkit-now"],
            env_with_home(home_of(p["--clear-cloudkit-now"])))))
    delete_times = paired(contenders, args.delete_rounds, prepare)
    for label in labels:
        leftover = os.path.join(copies, f"h{labels.index(label)}", "Library", "Caches", "CloudKit")
        if os.path.exists(leftover):
            sys.exit(f"{label} left {leftover} behind")
    shutil.rmtree(copies)

    rss = {
        "measure_bench, big tree": peak_rss_kib([measure, tree]),
        "measure_bench, empty folder": peak_rss_kib([measure, empty_home]),
    }
    if args.sweepkin:
        rss["sweepkin --selftest, big tree"] = peak_rss_kib(
            [args.sweepkin, "--selftest"], env_with_home(home))
        rss["sweepkin --selftest, empty HOME"] = peak_rss_kib(
            [args.sweepkin, "--selftest"], env_with_home(empty_home))

    print(f"Tree: {args.files} files, {engine_total} bytes (logical), generated by "
          f"`bench/make_cache_tree.py`; data under `{args.data}`.\n")
    print("| contender | median | baseline median | median of paired ratios | range |")
    print("|---|---|---|---|---|")
    print(ratio_line(measure_times, "directorySize", "du") +
          f"  <!-- {args.rounds} pairs, baseline du -sb --apparent-size -->")
    print(ratio_line(delete_times, "deleteCachePaths", "rm -rf") +
          f"  <!-- {args.delete_rounds} pairs, baseline rm -rf -->")
    if args.sweepkin:
        print(ratio_line(delete_times, "--clear-cloudkit-now", "rm -rf"))
    print("\n| peak memory (GNU time) | max RSS |")
    print("|---|---|")
    for label, kib in rss.items():
        print(f"| {label} | {kib} KiB |")


if __name__ == "__main__":
    main()
