#!/usr/bin/env python3
"""An independent reference for the ranking of a folder of plain account files, such as
orvantis-generate writes: prints the TSV that orvantis-rank prints, by the program's rules,
written again in plain Python for checking large folders against (plain INI only: ASCII or
UTF-8, no quotes or NUL bytes in values, levels that are whole numbers).

    bench/reference_ranking.py FOLDER > reference.tsv"""

import os
import sys


def values(path):
    """The first value of each (section, key) in the first section of each name, folded."""
    found, seen, current = {}, set(), None
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    for line in text.replace("\r\n", "\n").replace("\r", "\n").split("\n"):
        line = line.strip(" \t\v")
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            name = line[1:].split("]", 1)[0].strip(" \t\v").lower()
            current = None if name in seen else name
            seen.add(name)
            continue
        if "=" in line and current is not None:
            key, value = line.split("=", 1)
            found.setdefault((current, key.strip(" \t\v").lower()), value.strip(" \t\v"))
    return found


def level(text):
    text = text.strip(" ")
    if not text or not (text.lstrip("+-")[:1].isdigit()):
        return 0
    value = int(text)
    if not -2147483648 <= value <= 2147483647:
        raise OverflowError(text)
    return value


def main():
    accounts = os.path.join(sys.argv[1], "accounts")
    names = [n for n in os.listdir(accounts) if n[-3:].lower() == "ini"
             and os.path.isfile(os.path.join(accounts, n))]
    names.sort(key=lambda n: (n.encode().lower(), n.encode()))
    rows = []
    for name in names:
        v = values(os.path.join(accounts, name))
        try:
            l1, l2, l3 = (level(v.get((f"char{s}", "level"), "")) for s in (1, 2, 3))
        except OverflowError:
            continue
        login = v.get(("general", "login"), "")
        if not login:
            continue
        if l1 > l2 and l1 > l3:
            slot, best = "1", l1
        elif l2 > l1 and l2 > l3:
            slot, best = "2", l2
        elif l3 > l1 and l3 > l2:
            slot, best = "3", l3
        else:
            slot, best = "X", 0
        character = v.get((f"char{slot.lower()}", "name"), "").strip(" ")
        rows.append((best, login, slot, character))
    rows.sort(key=lambda r: -r[0])  # stable: equal levels keep the name order
    out = sys.stdout
    for best, login, slot, character in rows:
        cells = [login, str(best) if best else "", slot, character]
        out.write("\t".join(c.replace("\t", " ").replace("\n", " ").replace("\r", " ")
                            for c in cells) + "\n")


if __name__ == "__main__":
    main()
