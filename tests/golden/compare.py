#!/usr/bin/env python3
"""Compares the catalogue dump with its reviewed copy; prints a unified diff when they differ.

    compare.py DUMP_PROGRAM GOLDEN_FILE
With SWEEPKIN_UPDATE_GOLDEN=1 the copy is rewritten from the dump instead (review the diff).
"""
import difflib
import os
import subprocess
import sys

dump, golden = sys.argv[1], sys.argv[2]
now = subprocess.run([dump], check=True, capture_output=True, text=True).stdout
if os.environ.get("SWEEPKIN_UPDATE_GOLDEN") == "1":
    with open(golden, "w", encoding="utf-8") as f:
        f.write(now)
    print(f"rewrote {golden}")
    sys.exit(0)
with open(golden, encoding="utf-8") as f:
    kept = f.read()
if now != kept:
    sys.stdout.writelines(difflib.unified_diff(
        kept.splitlines(True), now.splitlines(True), golden, "catalogue_dump"))
    print(f"\nThe catalogue changed. If the change is meant, regenerate and review the diff:\n"
          f"  SWEEPKIN_UPDATE_GOLDEN=1 ctest --test-dir <build> -R golden.catalogue\n"
          f"  (or: {dump} > {golden})")
    sys.exit(1)
