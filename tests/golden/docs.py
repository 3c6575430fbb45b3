#!/usr/bin/env python3
"""Checks README.md's table of what is cleaned and the man page's CACHE LOCATIONS against the
catalogue dump (catalogue.txt): the same entries in the same order, and every folder name, Flatpak
or snap id, item and tool variable of an entry shown in its row.

    docs.py CATALOGUE README MANPAGE [--write]
--write adds a row (README) and a paragraph (man page) for an entry that has none, in catalogue
order, removes README rows of entries that are gone, and puts the rows in catalogue order; the
hand-written text of existing rows stays. Review the result.
"""
import re
import shlex
import sys

LIBRARY = ("library-caches", "library-app-support", "library-containers")


def read_catalogue(path):
    entries = []
    for raw in open(path, encoding="utf-8"):
        line = raw.rstrip("\n")
        if line.startswith("entry "):
            entries.append({"id": line[6:], "tools": [], "locations": []})
        elif line.startswith("  name "):
            entries[-1]["name"] = line[7:]
        elif line.startswith("  tool "):
            entries[-1]["tools"].append(line[7:].split(",")[0].split(" or ")[0])
        elif line.startswith("  location "):
            kind, path = line[11:].split(" ", 1)
            entries[-1]["locations"].append({"kind": kind, "path": path, "items": []})
        elif line.startswith("    item "):
            entries[-1]["locations"][-1]["items"].append(line[9:])
    return entries


def linux(entry):
    return [l for l in entry["locations"] if l["kind"] not in LIBRARY]


def mac(entry):
    return [l for l in entry["locations"] if l["kind"] in LIBRARY]


def words(location):
    """The names a row must show for a location: the sandbox id, the folder's name, each item's
    last name (without its "*"), when long enough to mean something."""
    path = location["path"]
    out = []
    sandbox = re.match(r"~/(?:\.var/app|snap)/([^/]+)", path)
    if sandbox:
        out.append(sandbox.group(1))
    out.append(path.rstrip("/").rsplit("/", 1)[-1])
    for item in location["items"]:
        if item != ".":
            out.append(item.rsplit("/", 1)[-1].replace("*", "").strip("-_"))
    return [w for w in out if len(w) >= 3 and not w.startswith("<")]


def render(location):
    items = [i for i in location["items"] if i != "."]
    if not items:
        return location["path"]
    if len(items) == 1:
        return location["path"] + "/" + items[0]
    return location["path"] + "/{" + ", ".join(items) + "}"


def readme_row(entry):
    def cell(locations, none):
        return "<br>".join("`%s`" % render(l) for l in locations) or none
    return "| %s | %s | %s |" % (entry["name"], cell(linux(entry), "none (macOS only)"),
                                 cell(mac(entry), "none (Linux only)"))


def check_readme(entries, lines, problems):
    start = next(i for i, l in enumerate(lines) if l.startswith("| Application |")) + 2
    end = next(i for i in range(start, len(lines)) if not lines[i].startswith("|"))
    rows = {}
    for line in lines[start:end]:
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        rows[cells[0]] = (line, cells)
    names = [e["name"] for e in entries]
    if list(rows) != names:
        problems.append("README: the table's rows %s are not the catalogue's %s" %
                        (list(rows), names))
    for entry in entries:
        if entry["name"] not in rows:
            continue
        cells = rows[entry["name"]][1]
        for column, locations, none in ((1, linux(entry), "none (macOS only)"),
                                        (2, mac(entry), "none (Linux only)")):
            text = cells[column]
            same = re.search(r"the same list as (\w+)", text)
            if same and same.group(1) in rows:
                text += rows[same.group(1)][1][column]
            if (text == none) != (not locations):
                problems.append("README: %s shows %r" % (entry["name"], cells[column]))
            for location in locations:
                for word in words(location):
                    if not re.search(r"(?<![A-Za-z0-9.])%s(?![A-Za-z0-9.])" % re.escape(word),
                                     text):
                        problems.append("README: %s's row lacks %r (%s)" %
                                        (entry["name"], word, location["path"]))
        for tool in entry["tools"]:
            if "$" + tool not in cells[1]:
                problems.append("README: %s's row lacks $%s" % (entry["name"], tool))
    table = [rows[n][0] if n in rows else readme_row(e) for n, e in zip(names, entries)]
    return lines[:start] + table + lines[end:]


def man_names(header):
    if header.startswith(".B "):
        return [header[3:].strip().strip('"')]
    return shlex.split(header[4:])[::2]


def check_man(entries, lines, problems):
    start = lines.index(".SH CACHE LOCATIONS")
    end = next(i for i in range(start + 1, len(lines)) if lines[i].startswith(".SH "))
    shown, at = [], {}
    for i in range(start, end):
        if lines[i] == ".TP" and lines[i + 1].startswith((".B ", ".BR ")):
            for name in man_names(lines[i + 1]):
                shown.append(name)
                at[name] = i
    names = [e["name"] for e in entries if linux(e)]
    if shown != names:
        problems.append("man page: CACHE LOCATIONS shows %s, the catalogue has %s" %
                        (shown, names))
    out = list(lines)
    for k, entry in reversed(list(enumerate(e for e in entries if linux(e)))):
        if entry["name"] in at or k == 0 or names[k - 1] not in at:
            continue
        after = next(i for i in range(at[names[k - 1]] + 1, end)
                     if lines[i] == ".TP" or lines[i].startswith((".PP", ".SH")))
        paths = [render(l).replace("-", "\\-") for l in linux(entry)]
        block = [".TP", ".B " + entry["name"]]
        block += ['.IR "\\%%%s" %s' % (p, "," if i + 1 < len(paths) else ".")
                  for i, p in enumerate(paths)]
        out[after:after] = block
    return out


def main():
    args = [a for a in sys.argv[1:] if a != "--write"]
    write = "--write" in sys.argv
    entries = read_catalogue(args[0])
    problems = []
    for path, check in ((args[1], check_readme), (args[2], check_man)):
        lines = open(path, encoding="utf-8").read().split("\n")
        fixed = check(entries, lines, problems)
        if write and fixed != lines:
            open(path, "w", encoding="utf-8").write("\n".join(fixed))
            print("rewrote " + path)
    if problems and not write:
        print("\n".join(problems))
        print("\nThe documentation disagrees with %s. Fix the rows by hand, or let\n"
              "  python3 %s %s --write\nadd the missing ones, then review them." %
              (args[0], sys.argv[0], " ".join(args)))
        return 1
    return 0


sys.exit(main())
