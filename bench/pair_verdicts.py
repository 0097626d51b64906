#!/usr/bin/python3
"""Verdicts over every pair of sets of simulated views: how often each verdict is right.

    /usr/bin/python3 bench/pair_verdicts.py [--build build] [--out build/pair-verdicts]
        [--sets blob:10:1,plate:10:1,...] [--points 20000] [--report FILE]

Each set SHAPE:N:SEED is N views of a bench shape made by assembly_sets.py (every file in a
random pose of its own, with the truth). Every pair (a < b) runs `kestrel-align --any-pose --icp
--json --threads 1`, two at a time, with scan b as Q. A result is right within 5 degrees and
5 mm at Q's centroid. The table counts, per set and verdict, the right and wrong results: a
confident wrong one is what the verdict must never give. Below it, the wrong results that pass
every test of a confident verdict but the last (how firmly Q is held) and the right ones held
too loosely, which shows how much room that test leaves, and the results that only the rule for
motions found by matched surface features kept from confidence. A benchmark, never a test.
"""
import argparse
import itertools
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import assembly_bench
import bench_geometry as g
from bench_kestrel import last_json

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RIGHT_DEGREES = 5.0
RIGHT_DISTANCE = 5.0
DEFAULT_SETS = ("blob:10:1,blob:10:2,blob:10:3,elongated:10:1,elongated:10:2,bracket:10:1,"
                "plate:10:1,plate:10:2")
VERDICTS = ("confident", "uncertain", "no_match")


def run_pair(program, folder, pa, pb):
    """The JSON of one pair's run (None when the run printed none)."""
    name = f"{os.path.basename(pa)}-{os.path.basename(pb)}"
    log = os.path.join(folder, name + ".log")
    with open(log, "w") as out:
        subprocess.run([program, "--any-pose", "--icp", "--json", "--quiet", "--threads", "1",
                        "--out", os.path.join(folder, name + ".tfm"), pa, pb],
                       stdout=out, stderr=subprocess.DEVNULL)
    return last_json(log)


def judge(files, truth, a, b, result):
    """(verdict, right, evidence) of one pair's result."""
    if not result or "matrix" not in result:
        return "no_match", False, {}
    expected = np.linalg.inv(truth[os.path.basename(files[a])]) @ truth[os.path.basename(files[b])]
    centroid = np.loadtxt(files[b]).mean(axis=0)
    angle, gap = g.motion_errors(np.asarray(result["matrix"]), expected, centroid)
    right = angle < RIGHT_DEGREES and gap < RIGHT_DISTANCE
    return result.get("verdict", "no_match"), right, result.get("evidence", {})


def run_set(program, recipe, out, points):
    shape, views, seed = recipe.split(":")
    folder = os.path.join(out, recipe.replace(":", "-"))
    os.makedirs(folder, exist_ok=True)
    files, truth = assembly_bench.make_set(f"{shape}:{views}", folder, points, int(seed))
    pairs = list(itertools.combinations(range(len(files)), 2))
    with ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda ab: run_pair(program, folder, files[ab[0]], files[ab[1]]),
                                pairs))
    return [judge(files, truth, a, b, r) for (a, b), r in zip(pairs, results)]


def passes_fit_tests(e):
    return (e.get("fine_share", 0) >= 0.12 and e.get("on_surface", 0) >= 0.6
            and e.get("empty_space", 1) <= 0.02)


def held_margin(rows):
    """The wrong results held enough to be the only test left, and the right ones held too
    loosely: their 'constraint' values. Motions found by matched surface features alone are
    counted apart (by_features_margin): they are never confident."""
    def near_confident(e):
        return passes_fit_tests(e) and not e.get("by_features")
    wrong = sorted(e["constraint"] for v, r, e in rows if not r and near_confident(e))
    loose = sorted(e["constraint"] for v, r, e in rows
                   if r and v != "confident" and near_confident(e))
    return wrong, loose


def by_features_margin(rows):
    """Results from matched surface features that pass every fit test, right and wrong, with
    how firmly each is held: those the feature rule alone kept from being confident."""
    held = lambda r, e: e.get("constraint", 0) >= 0.01
    chosen = [(r, e) for v, r, e in rows if e.get("by_features") and passes_fit_tests(e)]
    return (sum(1 for r, e in chosen if r and held(r, e)),
            sum(1 for r, e in chosen if not r and held(r, e)))


HEADER = """# Verdicts over every pair of sets of simulated views

Made by `/usr/bin/python3 bench/pair_verdicts.py --sets {sets} --report FILE`, Release build.
Each set SHAPE:VIEWS:SEED is simulated range scans of a `bench/synthetic_shapes.py` shape ({points}
points each) from a ring of views around it, every file in its own random pose
(`bench/assembly_sets.py`); every pair of a set runs `kestrel-align --any-pose --icp --json`. A
result is right within 5 degrees and 5 mm at Q's centroid. Most wrong results pair views that
share little or nothing, from the ring's far sides.

"""


def report(table, rows):
    lines = ["| set | pairs | right | " + " | ".join(f"{v}: right | {v}: wrong" for v in VERDICTS)
             + " |", "|---" * (3 + 2 * len(VERDICTS)) + "|"]
    for recipe, set_rows in table:
        cells = [recipe, str(len(set_rows)), str(sum(r for _, r, _ in set_rows))]
        for v in VERDICTS:
            cells.append(str(sum(1 for w, r, _ in set_rows if w == v and r)))
            cells.append(str(sum(1 for w, r, _ in set_rows if w == v and not r)))
        lines.append("| " + " | ".join(cells) + " |")
    wrong, loose = held_margin(rows)
    fmt = lambda xs: f"{len(xs)}, from {xs[0]:.4f} to {xs[-1]:.4f}" if xs else "none"
    right_f, wrong_f = by_features_margin(rows)
    lines += ["", f"Wrong results stopped only by how firmly Q is held: {fmt(wrong)}.",
              f"Right results not confident that pass every other test: {fmt(loose)}.",
              f"Found by matched surface features alone and passing every test (so uncertain "
              f"by that rule only): {right_f} right, {wrong_f} wrong."]
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "pair-verdicts"))
    ap.add_argument("--sets", default=DEFAULT_SETS, help="SHAPE:VIEWS:SEED, comma separated")
    ap.add_argument("--points", type=int, default=20000, help="points per simulated view")
    ap.add_argument("--report", help="also write the table to this file")
    args = ap.parse_args()
    program = os.path.join(os.path.abspath(args.build), "tools", "kestrel-align")
    if not os.path.exists(program):
        sys.exit(f"no {program}: build first")
    table = [(recipe, run_set(program, recipe, args.out, args.points))
             for recipe in args.sets.split(",")]
    text = HEADER.format(sets=args.sets, points=args.points) + report(
        table, [row for _, set_rows in table for row in set_rows])
    print(text, end="")
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
