#!/usr/bin/env python3
"""Regenerates the generated part of the seed corpora (files named gen-*).

korbal seeds are small control files with data in every layout and with every effect;
meridox seeds are the interchange files that build/korbal writes for them, plus
hand-made ones with 1 and 15 effects. Run after `make build` (or set KORBAL to another build of it):
    python3 fuzz/make_seeds.py
"""
import os
import random
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KORBAL = os.path.abspath(os.environ.get("KORBAL", os.path.join(ROOT, "build", "korbal")))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")

# name: (NLINES, NV, CROSS, ISELF, IMATR, IRECP, NREP, NLOC, IFXL, IDATA, IPRINT,
#        NSETS, NCLON, ICXL, IRXF), data format
DESIGNS = {
    # layout 2 (no locations, no replications), 4 effects
    "plain": ((3, 1, 0, -1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0), "(4I3,F8.2)"),
    # layout 1 (replications only), with selfs inside SCA, two variables and cross products
    "reps-cross": ((3, 2, 1, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, 0), "(5I3,2F8.2)"),
    # layout 4 (locations only), two sets, listing switched on
    "locs-list": ((3, 1, 0, -1, 1, 0, 0, 2, 1, 7, -1, 2, 0, 0, 0), "(I2,4I3,F8.2)"),
    # layout 3, exactly 8 effects: MEAN LOC REPS SETS GCA SCA MATR RECP
    "eight": ((3, 1, 0, -1, 1, 1, 2, 2, 0, 0, 0, 1, 0, 0, 0), "(6I3,F8.2)"),
    # layout 3, 9 effects (FXL added), three variables with cross products
    "nine-cross": ((3, 3, 1, -1, 1, 1, 2, 2, 1, 0, 0, 1, 0, 0, 0), "(6I3,3F8.2)"),
    # layout 3, all 13 effects, the responses on a second record
    "all": ((3, 2, 1, 1, 1, 1, 2, 2, 1, 0, 0, 1, 2, 1, 1), "(6I3,/,2F8.2)"),
    # every input descriptor in one data format
    "descriptors": ((3, 2, 0, -1, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, 0),
                    "(BN,I2,1X,I2,TR3,T6,2I3,T12,I3,TL3,3X,2P,F6.2,0P,BZ,E10.3)"),
}


def data_lines(dims, fmt, rng):
    p, nv, _, _, _, _, nrep, nloc = dims[:8]
    nsets, nclon = dims[11], dims[12]
    lines = []
    for loc in range(1, max(nloc, 1) + 1):
        for rep in range(1, max(nrep, 1) + 1):
            for s in range(1, nsets + 1):
                for f in range(1, p + 1):
                    for m in range(1, p + 1):
                        for c in range(1, max(nclon, 1) + 1):
                            if rng.random() < 0.15:
                                continue  # unbalanced
                            ys = [rng.uniform(5, 50) for _ in range(nv)]
                            lines.append((loc, rep, s, f, m, c if nclon else 0, ys))
    out = []
    for loc, rep, s, f, m, c, ys in lines:
        ids = []
        if nloc >= 1:
            ids.append(loc)
        if nrep >= 1:
            ids.append(rep)
        ids += [s, f, m, c]
        if fmt.startswith("(BN"):
            # I2,1X,I2 then I3,I3 from column 6, I3 at column 12, F6.2 scaled by 2P, E10.3
            rec = "%2d %2d%3d%3d%3d" % (ids[0], ids[1], ids[2], ids[3], ids[4])
            rec += "%6.2f" % ys[0] + "%10.3E" % ys[1]
            out.append(rec)
            continue
        head = "".join("%3d" % v for v in ids)
        if fmt.startswith("(I2"):
            head = "%2d" % ids[0] + "".join("%3d" % v for v in ids[1:])
        body = "".join("%8.2f" % y for y in ys)
        if "/" in fmt:
            out.append(head)
            out.append(body)
        else:
            out.append(head + body)
    ends = {"(4I3": "  1  0  0  0", "(5I3": "  1  1  0  0  0", "(6I3": "  1  1  1  0  0  0",
            "(I2,": " 1  1  0  0  0"}
    for k, v in ends.items():
        if fmt.startswith(k):
            out.append(v)
    return "\n".join(out) + "\n"


def control(dims, fmt, nv):
    names = "".join(("VAR%d" % (i + 1)).ljust(16) + "    " for i in range(nv))
    name_records = [names[i:i + 80].rstrip() for i in range(0, len(names), 80)]
    return "".join("%3d" % v for v in dims) + "\nSEED DESIGN\n" + "\n".join(name_records) + \
        "\n" + fmt + "\n"


def g(v):
    return "%8.3f    " % v


def hand_made(ne, cross, nv):
    codes = ["MEAN", "LOC ", "REPS", "SETS", "GCA ", "SELF", "SCA ", "MATR", "RECP", "FXL ",
             "CLON", "CXL ", "RXF ", "AAA ", "BBB ", "CCC ", "DDD ", "EEE ", "FFF "]
    s = "%4d%4d%4d   1\n" % (nv, cross, ne)

    def group(lead, values):
        out = lead + "  " + "".join(g(v) for v in values[:8]) + "\n"
        rest = values[8:]
        while True:
            out += " " * 10 + "".join(g(v) for v in rest[:8]) + "\n"
            if len(rest) <= 8:
                break
            rest = rest[8:]
        if len(values) < 8:
            out = out[:out.rindex(" " * 10)]
        return out

    for e in range(ne):
        # the coefficient of component c (1-based, file order) stands at position ne+1-c;
        # the row of effect e holds its own and those of the later components only
        coef = [float(j + 2) if j <= ne - 1 - e else 0.0 for j in range(ne)]
        s += group("%-4s%4d" % (codes[e], e + 2), coef)
    pairs = [(a, b) for a in range(nv) for b in range(a, nv)] if cross else \
        [(a, a) for a in range(nv)]
    for a, b in pairs:
        if a == b:
            s += " " * 12 + ("Y%d" % (a + 1)).ljust(16) + "\n"
        else:
            s += ("Y%d" % (a + 1)).ljust(16) + " - BY - " + ("Y%d" % (b + 1)).ljust(16) + "\n"
        s += group("%4d%4d" % (a + 1, b + 1), [10.0 * (ne - e) + 1.5 for e in range(ne)])
        s += "%8d  %s\n" % (30, g(1.25))
    return s


def main():
    if not os.path.exists(KORBAL):
        sys.exit("build/korbal is missing: run `make build` first")
    rng = random.Random(1954)
    for name, (dims, fmt) in DESIGNS.items():
        ctl = control(dims, fmt, dims[1])
        dat = data_lines(dims, fmt, rng)
        with open(os.path.join(CORPUS, "korbal", "gen-" + name), "w") as f:
            f.write(ctl + "%%\n" + dat)
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, "c.ctl"), "w") as f:
                f.write(ctl)
            with open(os.path.join(tmp, "d.dat"), "w") as f:
                f.write(dat)
            r = subprocess.run([KORBAL, "c.ctl", "r.out", "d.dat"], cwd=tmp,
                               stdin=subprocess.DEVNULL, capture_output=True)
            if r.returncode != 0:
                sys.exit("korbal failed on %s:\n%s" % (name, r.stdout.decode()))
            with open(os.path.join(tmp, "MERIDOX_IN.DAT"), "rb") as f:
                inter = f.read()
        with open(os.path.join(CORPUS, "meridox", "gen-" + name), "wb") as f:
            f.write(inter)
    for ne, cross, nv in ((1, 0, 1), (15, 1, 2)):
        with open(os.path.join(CORPUS, "meridox", "gen-hand-%d" % ne), "w") as f:
            f.write(hand_made(ne, cross, nv))
    # two problems in one file
    with open(os.path.join(CORPUS, "meridox", "gen-eight"), "rb") as f:
        first = f.read()
    with open(os.path.join(CORPUS, "meridox", "gen-plain"), "rb") as f:
        second = f.read()
    with open(os.path.join(CORPUS, "meridox", "gen-two-problems"), "wb") as f:
        f.write(first + second)


if __name__ == "__main__":
    main()
