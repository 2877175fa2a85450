#!/usr/bin/env python3
"""Checks the factor lines ("p | k*2^n+1") of the files given, independently
of veksieve: p is a prime and divides k*2^n+1. With --sequences Vek.dat each
k*2^n+1 must also be a candidate of that file, and with --range PMIN PMAX each
p must lie in (PMIN, PMAX]. With --complete as well (and both), every prime
of the range that divides a candidate must have its line: each missing one is
printed (for short ranges and short n ranges: every prime of the range is
tested and every n looked up). Prints every line that fails; exit status 1 if
any.

    check_factors.py [--sequences VEK.DAT] [--range PMIN PMAX] [--complete] FILE...
"""
import argparse
import re
import sys

FACTOR = re.compile(r"(\d+) \| (\d+)\*2\^(\d+)\+1")
WITNESSES = (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37)  # enough below 3.3e24


def is_prime(p):
    if p < 2:
        return False
    if p in WITNESSES:
        return True
    d, s = p - 1, 0
    while d % 2 == 0:
        d, s = d // 2, s + 1
    for a in WITNESSES:
        x = pow(a, d, p)
        if x in (1, p - 1):
            continue
        for _ in range(s - 1):
            x = x * x % p
            if x == p - 1:
                break
        else:
            return False
    return True


def leading_int(text):
    m = re.match(r"\s*([+-]?\d+)", text)
    return int(m.group(1)) if m else None


def candidates(path):
    """The (k, n) pairs of a sequence file: count, nmin, nmax, then for each k
    a "k=" line and its n's, absolute or "+" the distance to the previous."""
    lines = open(path).read().splitlines()
    count = leading_int(lines[0])
    pairs = set()
    k = n = None
    seen = 0
    for line in lines[3:]:
        if line.startswith("k="):
            if seen == count:
                break
            k, n, seen = int(line[2:]), 0, seen + 1
        elif k is not None:
            value = leading_int(line)
            if value is None:
                continue
            n = n + value if line.lstrip().startswith("+") else value
            pairs.add((k, n))
    return pairs


def expected_lines(pairs, pmin, pmax):
    """Every "p | k*2^n+1" with p prime in (pmin, pmax] and (k, n) in pairs:
    for each p, 2^n mod p for every n of the pairs, and -1/k looked up."""
    ns = sorted({n for _, n in pairs})
    ks = sorted({k for k, _ in pairs})
    lines = set()
    for p in range(pmin + 1 + pmin % 2, pmax + 1, 2):
        if not is_prime(p):
            continue
        n_of = {}
        for n in ns:
            n_of.setdefault(pow(2, n, p), []).append(n)
        for k in ks:
            if k % p == 0:
                continue
            for n in n_of.get(-pow(k, -1, p) % p, []):
                if (k, n) in pairs:
                    lines.add(f"{p} | {k}*2^{n}+1")
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sequences")
    parser.add_argument("--range", nargs=2, type=int)
    parser.add_argument("--complete", action="store_true")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    allowed = candidates(args.sequences) if args.sequences else None
    bad = 0
    if args.complete:
        found = {line.rstrip("\n") for name in args.files for line in open(name) if FACTOR.fullmatch(line.rstrip("\n"))}
        for line in sorted(expected_lines(allowed, *args.range) - found):
            print(f"missing: {line}")
            bad += 1
    for name in args.files:
        for line in open(name):
            m = FACTOR.fullmatch(line.rstrip("\n"))
            if not m:
                continue
            p, k, n = map(int, m.groups())
            problems = []
            if not is_prime(p):
                problems.append("p is not prime")
            if (k * pow(2, n, p) + 1) % p != 0:
                problems.append("p does not divide k*2^n+1")
            if allowed is not None and (k, n) not in allowed:
                problems.append("not a candidate")
            if args.range and not args.range[0] < p <= args.range[1]:
                problems.append("p outside the range")
            if problems:
                print(f"{name}: {line.rstrip()}: {', '.join(problems)}")
                bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
