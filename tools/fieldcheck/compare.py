#!/usr/bin/env python3
"""Compares listings of the fresh HOME (made by fc_list: type, size, mtime, link target, path)
against expected-caches.txt.

  compare.py [--running] TABLE BEFORE AFTER APP...
      what the removal took: prints what disappeared, changed and appeared, and exits 1 when
      anything outside the APPs' cache folders disappeared or changed, or something they keep is
      missing. --running: the applications ran during the removal, so a file they replaced
      themselves (a new entry beside it) is not blamed on the removal, and changes are expected.
  compare.py --recreated AFTER FINAL
      what the applications wrote again after the removal.
"""
import fnmatch
import sys


def load_listing(path):
    out = {}
    for line in open(path):
        kind, size, mtime, target, rel = line.rstrip("\n").split("\t", 4)
        out[rel] = (kind, size, mtime, target)
    return out


def load_table(path, apps):
    rows = []
    for line in open(path):
        if line.strip() and not line.lstrip().startswith("#"):
            app, kind, value = line.split(None, 2)
            if app in apps:
                rows.append((app, kind, value.strip()))
    return rows


def matches(path, glob):
    """path lies at or under an entry matching glob ("*" stands for one path component)."""
    parts = path.split("/")
    depth = glob.count("/") + 1
    return len(parts) >= depth and fnmatch.fnmatchcase("/".join(parts[:depth]), glob)


def subtree_roots(paths):
    s = set(paths)
    return [p for p in paths if "/" not in p or p.rsplit("/", 1)[0] not in s]


def recreated(after, final):
    new = sorted(set(final) - set(after))
    for r in subtree_roots(new):
        print("  %s  (%d entries)" % (r, sum(1 for n in new if n == r or n.startswith(r + "/"))))
    if not new:
        print("  (nothing)")
    return 0


def removal(rows, before, after, running):
    caches = [(app, g) for app, kind, g in rows if kind == "cache"]

    def owner(path):  # the application whose cache folder holds path, or None
        return next((app for app, g in caches if matches(path, g)), None)

    gone = sorted(set(before) - set(after))
    gone_set = set(gone)
    new = sorted(set(after) - set(before))
    new_parents = {n.rsplit("/", 1)[0] for n in new if "/" in n}

    def rotated(p):  # a running application replaced this file itself: a new entry appeared beside it
        return running and "/" in p and p.rsplit("/", 1)[0] in new_parents

    roots = subtree_roots(gone)
    print("=== disappeared from HOME: %d entries, %d subtree roots ===" % (len(gone), len(roots)))
    for r in roots:
        n = sum(1 for g in gone if g == r or g.startswith(r + "/"))
        o = owner(r)
        if o:
            note = "(%s cache)" % o
        elif rotated(r):
            note = "<-- outside the listed cache folders, but a new entry appeared beside it (replaced by the running application?)"
        else:
            note = "<-- OUTSIDE the listed cache folders"
        print("  %s ~/%s  (%d entries) %s" % (before[r][0], r, n, note))
    outside = [g for g in gone if not owner(g) and not rotated(g)]
    replaced = [g for g in gone if not owner(g) and rotated(g)]
    # a file outside the cache folders whose size, time or link target changed (directory times
    # change whenever an entry inside is removed, so only files and links count)
    changed = [] if running else [p for p in sorted(set(before) & set(after))
                                  if before[p][0] != "d" and before[p] != after[p] and not owner(p)]
    if replaced:
        print("(%d vanished entries outside the cache folders were replaced beside them while the applications ran)"
              % len(replaced))
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

    missing = 0
    for app, kind, g in rows:
        if kind != "keep":
            continue
        alternatives = [a.strip() for a in g.split(" | ")]
        had = [p for p in before if any(p.count("/") == a.count("/") and fnmatch.fnmatchcase(p, a)
                                        for a in alternatives)]
        lost = [p for p in had if p not in after]
        if not had:
            print("!!! %s keeps ~/%s, but there was none before the removal (is the table out of date?)" % (app, g))
        for p in lost:
            print("!!! %s keeps ~/%s, and it is gone" % (app, p))
        missing += not had or bool(lost)
    if not missing:
        print("(all %d kinds of file to keep were there before and after)" % sum(1 for r in rows if r[1] == "keep"))

    if new:
        print("=== appeared during the removal: %d entries ===" % len(new))
        for g in new[:50]:
            print("  ~/" + g)
    left = sorted({(o, g) for p in after for o, g in caches if matches(p, g)})
    if left:
        print("cache folders still present after the removal: " + ", ".join("%s ~/%s" % (a, g) for a, g in left))
    return 1 if outside or changed or missing else 0


def main(argv):
    if argv[0] == "--recreated":
        return recreated(load_listing(argv[1]), load_listing(argv[2]))
    running = argv[0] == "--running"
    table, before, after, *apps = argv[1:] if running else argv
    return removal(load_table(table, set(apps)), load_listing(before), load_listing(after), running)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
