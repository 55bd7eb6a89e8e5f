#!/usr/bin/python3
"""Reads a ranking file in CSV or JSON with Python's own readers and prints its rows as JSON
arrays of four strings, one per line, so that a test can compare them with the TSV output.
    parse_ranking.py csv|json FILE"""
import csv
import json
import sys

form, path = sys.argv[1], sys.argv[2]
with open(path, encoding="utf-8", newline="") as f:
    if form == "csv":
        records = list(csv.reader(f, strict=True))
        assert records[0] == ["Username", "Highest Level", "Char No.", "Char Name"], records[0]
        # As a spreadsheet shows a cell: the ' that keeps a formula's first character from
        # being run is not shown, and every cell that would start a formula has it.
        rows = []
        for record in records[1:]:
            for cell in record:
                assert cell[:1] not in ("=", "+", "-", "@", "\t", "\r") or cell == record[1], record
            rows.append([cell[1:] if cell[:1] == "'" and cell[1:2] in ("=", "+", "-", "@", "\t", "\r")
                         else cell for cell in record])
    else:
        rows = []
        for item in json.load(f):
            assert set(item) - {"tiedLevel"} == {"login", "level", "slot", "name"}, item
            assert isinstance(item["level"], int), item
            # Only a tied row, ranked as level 0, says the level its characters share.
            if "tiedLevel" in item:
                assert item["slot"] == "X" and item["level"] == 0, item
                assert isinstance(item["tiedLevel"], int) and item["tiedLevel"] > 0, item
            rows.append([item["login"], str(item["level"]) if item["level"] else "", item["slot"], item["name"]])
for row in rows:
    print(json.dumps(row))
