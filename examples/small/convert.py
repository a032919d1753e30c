#!/usr/bin/env python3
"""Writes small.dat from the published table of flowering times (CSV with the columns
Block, Par1, Par2, Ftime; Par1 is the male and Par2 the female parent, lines A to H).

    python3 convert.py hayman54.csv > small.dat

Data layout: replications only (IREP, ISET, IFEM, IMALE, ICLONE, Y), read with the
format (5I3,F8.2). Self lines (female = male) are kept; korbal skips them. The file
ends with a terminating line (female and male line 0).
"""
import csv
import sys


def main(path):
    rows = []
    with open(path, newline="") as f:
        for r in csv.DictReader(f):
            block = int(r["Block"])
            male = ord(r["Par1"]) - ord("A") + 1
            female = ord(r["Par2"]) - ord("A") + 1
            rows.append((block, female, male, float(r["Ftime"])))
    rows.sort()
    out = sys.stdout
    for block, female, male, y in rows:
        out.write("%3d%3d%3d%3d%3d%8.2f\n" % (block, 1, female, male, 0, y))
    out.write("%3d%3d%3d%3d%3d%8.2f\n" % (0, 0, 0, 0, 0, 0.0))


if __name__ == "__main__":
    main(sys.argv[1])
