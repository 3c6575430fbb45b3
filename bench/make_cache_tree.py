#!/usr/bin/env python3
"""Builds a browser-like cache tree for the benchmarks.

    make_cache_tree.py DEST [--files N] [--seed S]

DEST gets about N regular files (default 200,000) with logical sizes from 0 to 64 KiB, a few
thousand folders up to 8 levels deep, one large flat folder like a disk cache's data folder, and
a sprinkling of symbolic links (into the tree, out of it, and dangling). Files hold real (zero)
bytes, not holes: the engine counts no more than a file occupies on disk, so a sparse tree would
measure as nearly empty. The same seed gives the same tree.
"""

import argparse
import os
import random


def size_for(rng):
    roll = rng.random()
    if roll < 0.30:
        return rng.randint(0, 512)
    if roll < 0.80:
        return rng.randint(513, 8 * 1024)
    return rng.randint(8 * 1024 + 1, 64 * 1024)


ZEROS = bytes(64 * 1024)


def write(path, size):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        if size:
            os.write(fd, ZEROS[:size])
    finally:
        os.close(fd)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("dest")
    parser.add_argument("--files", type=int, default=200_000)
    parser.add_argument("--seed", type=int, default=20261206)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    total = args.files
    made = {"files": 0, "dirs": 0, "links": 0, "bytes": 0}

    def mkdir(path):
        os.makedirs(path, exist_ok=True)
        made["dirs"] += 1
        return path

    def file(path):
        size = size_for(rng)
        write(path, size)
        made["files"] += 1
        made["bytes"] += size

    def hexname(n):
        return "".join(rng.choice("0123456789abcdef") for _ in range(n))

    root = mkdir(args.dest)
    # Shares of the file count, like a browser profile's caches.
    flat = int(total * 0.35)        # the disk cache's data folder: one huge flat folder
    js = int(total * 0.17)          # compiled script cache, flat-ish
    wasm = int(total * 0.05)
    deep = int(total * 0.03)        # nested storage, depth up to 8
    storage = total - flat - js - wasm - deep  # per-origin cache storage folders

    data = mkdir(os.path.join(root, "Cache", "Cache_Data"))
    for i in range(flat):
        file(os.path.join(data, f"{hexname(16)}_{i % 4}"))
    mkdir(os.path.join(data, "index-dir"))
    file(os.path.join(data, "index-dir", "the-real-index"))

    for sub, count in (("js", js), ("wasm", wasm)):
        folder = mkdir(os.path.join(root, "Code Cache", sub))
        idx = mkdir(os.path.join(folder, "index-dir"))
        file(os.path.join(idx, "the-real-index"))
        for i in range(count - 1):
            file(os.path.join(folder, f"{hexname(16)}_0"))

    origins = 100
    caches_per_origin = 20
    per_folder = max(1, storage // (origins * caches_per_origin))
    left = storage
    cs = mkdir(os.path.join(root, "Service Worker", "CacheStorage"))
    for o in range(origins):
        origin = mkdir(os.path.join(cs, hexname(40)))
        file(os.path.join(origin, "index.txt"))
        left -= 1
        for c in range(caches_per_origin):
            folder = mkdir(os.path.join(origin, f"{hexname(8)}-{hexname(4)}-{hexname(4)}-{hexname(12)}"))
            n = per_folder if (o, c) != (origins - 1, caches_per_origin - 1) else max(0, left)
            n = min(n, left)
            for i in range(n):
                file(os.path.join(folder, f"{hexname(16)}_{i % 2}"))
            left -= n

    fs_root = mkdir(os.path.join(root, "File System"))
    chains = max(1, deep // 40)
    for c in range(chains):
        path = fs_root
        for level in range(rng.randint(3, 7)):  # with the root folders, up to 8 levels
            path = mkdir(os.path.join(path, f"{level:02d}{hexname(2)}"))
        for i in range(deep // chains):
            file(os.path.join(path, f"{i:08x}"))

    outside = ["/usr/share/doc", "/etc/hostname", "/nonexistent/target", "../../Cache"]
    for i in range(200):
        folder = os.path.join(cs, sorted(os.listdir(cs))[i % origins])
        os.symlink(outside[i % len(outside)], os.path.join(folder, f"link-{i}"))
        made["links"] += 1

    print(f"{made['files']} files, {made['dirs']} folders, {made['links']} links, "
          f"{made['bytes']} bytes in {root}")


if __name__ == "__main__":
    main()
