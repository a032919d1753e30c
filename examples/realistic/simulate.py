#!/usr/bin/env python3
"""Simulates a multi-location diallel trial and writes its korbal input.

    python3 simulate.py            # writes realistic.ctl and realistic.dat here
    python3 simulate.py --effects  # also prints the sample variances of the drawn effects

The trial: two disconnected diallel sets of 7 parent lines each, all crosses and
reciprocals (no selfs), grown in 3 locations with 3 replications per location; two
traits, grain yield (t/ha) and plant height (cm). A few crosses were never made and a
few plots were lost, so the data are unbalanced.

Every response is the sum of random effects drawn from the variance components in
COMPONENTS below, coded exactly as korbal codes its model:

  y = mean + loc(l) + rep(l,r) + set(s)
      + gca(s,f) + gca(s,m)              general combining ability of both parents
      + sca(s,{f,m})                     specific combining ability of the pair
      + matr(s,f) - matr(s,m)            maternal: +1 for the female, -1 for the male
      + sgn * recp(s,{f,m})              reciprocal: sgn = +1 when f < m, else -1
      + fxl(l,s,f,m)                     family (ordered cross) by location
      + e                                plot error

Each effect is a pair (trait 1, trait 2) drawn from a bivariate normal distribution
with the two variances and the covariance given below. Only the standard library is
used, with a fixed seed, so the files are the same on every run.
"""
import math
import random
import sys

SEED = 2718

P = 7          # parent lines per set
NSETS = 2
NLOC = 3
NREP = 3
MEANS = (6.0, 110.0)

# name: (variance of trait 1, variance of trait 2, covariance)
COMPONENTS = {
    "LOC":  (0.50, 50.0, 0.0),
    "REPS": (0.04, 4.0, 0.0),
    "SETS": (0.10, 10.0, 0.0),
    "GCA":  (0.30, 40.0, 2.0),
    "SCA":  (0.20, 15.0, 0.6),
    "MATR": (0.10, 8.0, 0.4),
    "RECP": (0.05, 4.0, 0.0),
    "FXL":  (0.15, 10.0, 0.3),
    "ERR":  (0.40, 30.0, 1.0),
}

# Crosses never made: (set, female, male), in every location.
NEVER_MADE = [(1, 2, 5), (2, 6, 3), (2, 4, 7), (2, 7, 4)]
# Crosses lost in one location: (location, set, female, male).
LOST_IN_LOCATION = [(3, 2, 1, 4)]
# Single plots lost at random.
LOST_PLOTS = 6


def draw(rng, name):
    """One bivariate normal effect (trait 1, trait 2) of the named component."""
    v1, v2, c = COMPONENTS[name]
    z1 = rng.gauss(0.0, 1.0)
    z2 = rng.gauss(0.0, 1.0)
    s1 = math.sqrt(v1)
    return (s1 * z1, c / s1 * z1 + math.sqrt(v2 - c * c / v1) * z2)


def pairs(p):
    return [(i, j) for i in range(1, p + 1) for j in range(i + 1, p + 1)]


def families(p):
    return [(f, m) for f in range(1, p + 1) for m in range(1, p + 1) if f != m]


def simulate():
    rng = random.Random(SEED)
    eff = {name: {} for name in COMPONENTS}
    for l in range(1, NLOC + 1):
        eff["LOC"][l] = draw(rng, "LOC")
        for r in range(1, NREP + 1):
            eff["REPS"][(l, r)] = draw(rng, "REPS")
    for s in range(1, NSETS + 1):
        eff["SETS"][s] = draw(rng, "SETS")
        for i in range(1, P + 1):
            eff["GCA"][(s, i)] = draw(rng, "GCA")
        for pr in pairs(P):
            eff["SCA"][(s,) + pr] = draw(rng, "SCA")
        for i in range(1, P + 1):
            eff["MATR"][(s, i)] = draw(rng, "MATR")
        for pr in pairs(P):
            eff["RECP"][(s,) + pr] = draw(rng, "RECP")
    for l in range(1, NLOC + 1):
        for s in range(1, NSETS + 1):
            for fm in families(P):
                eff["FXL"][(l, s) + fm] = draw(rng, "FXL")

    plots = []
    for l in range(1, NLOC + 1):
        for r in range(1, NREP + 1):
            for s in range(1, NSETS + 1):
                for f, m in families(P):
                    if (s, f, m) in NEVER_MADE or (l, s, f, m) in LOST_IN_LOCATION:
                        continue
                    lo, hi = min(f, m), max(f, m)
                    sgn = 1.0 if f < m else -1.0
                    e = draw(rng, "ERR")
                    eff["ERR"][(l, r, s, f, m)] = e
                    y = []
                    for t in range(2):
                        y.append(MEANS[t]
                                 + eff["LOC"][l][t] + eff["REPS"][(l, r)][t]
                                 + eff["SETS"][s][t]
                                 + eff["GCA"][(s, f)][t] + eff["GCA"][(s, m)][t]
                                 + eff["SCA"][(s, lo, hi)][t]
                                 + eff["MATR"][(s, f)][t] - eff["MATR"][(s, m)][t]
                                 + sgn * eff["RECP"][(s, lo, hi)][t]
                                 + eff["FXL"][(l, s, f, m)][t]
                                 + e[t])
                    plots.append((l, r, s, f, m, y))
    for _ in range(LOST_PLOTS):
        l, r, s, f, m, _ = plots.pop(rng.randrange(len(plots)))
        del eff["ERR"][(l, r, s, f, m)]
    return eff, plots


def write_control(path):
    items = [P, 2, 1, -1, 1, 1, NREP, NLOC, 1, 1, 0, NSETS, 0, 0, 0]
    with open(path, "w", newline="\n") as f:
        f.write("".join("%3d" % v for v in items) + "\n")
        f.write("SIMULATED DIALLEL: 2 SETS OF 7 LINES, 3 LOCATIONS, 3 REPS, SEED %d\n" % SEED)
        f.write("GRAIN YIELD T/HA    PLANT HEIGHT CM\n")
        f.write("(6I3,2F8.2)\n")


def write_data(path, plots):
    with open(path, "w", newline="\n") as f:
        for l, r, s, fe, m, y in plots:
            f.write("%3d%3d%3d%3d%3d%3d%8.2f%8.2f\n" % (l, r, s, fe, m, 0, y[0], y[1]))
        f.write("%3d%3d%3d%3d%3d%3d%8.2f%8.2f\n" % (0, 0, 0, 0, 0, 0, 0.0, 0.0))


def print_effects(eff):
    """Sample variances and covariance of the effects actually drawn (divisor n)."""
    print("%-5s %5s %12s %12s %12s" % ("", "n", "var 1", "var 2", "cov"))
    for name, values in eff.items():
        v = list(values.values())
        n = len(v)
        m1 = sum(a for a, _ in v) / n
        m2 = sum(b for _, b in v) / n
        s11 = sum((a - m1) ** 2 for a, _ in v) / n
        s22 = sum((b - m2) ** 2 for _, b in v) / n
        s12 = sum((a - m1) * (b - m2) for a, b in v) / n
        print("%-5s %5d %12.4f %12.4f %12.4f" % (name, n, s11, s22, s12))


def main(argv):
    eff, plots = simulate()
    write_control("realistic.ctl")
    write_data("realistic.dat", plots)
    if "--effects" in argv:
        print_effects(eff)


if __name__ == "__main__":
    main(sys.argv[1:])
