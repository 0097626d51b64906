#!/usr/bin/python3
"""Scans as they come from scanners and other tools: `kestrel-align --any-pose --icp` on pairs of
the bundled scans carrying one fault each, against the same pairs clean.

Usage (after building kestrel-align in BUILD):
    /usr/bin/python3 bench/scan_faults.py [--build build] [--out FOLDER] [--report FILE]
        [--faults clean,strays-1,...] [--seed 1]

Faults: stray points strewn over a box 20 mm beyond the scans (1 % and 5 % of each scan's
points), every point written twice and six times (a mesh's vertices, once per face), a P of 5 %
of its points against the full Q, a P of the tenth of its points nearest one spot of the overlap
against the full Q, one point of each scan written 3 m, 1 km and 1000 km off, and a flat table
of as many points as the scan under both (a turntable). Each pair is moved by a random motion; a
motion is right within 5 degrees and 5 mm at Q's centroid. A benchmark, never a test.
"""
import argparse
import os
import statistics
import sys

import numpy as np

import bench_geometry as g
import bench_kestrel

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PAIRS = [("bun000", "bun045"), ("bun000", "bun315"), ("bun045", "bun090"), ("bun000", "bun090")]
FAULTS = ["clean", "strays-1", "strays-5", "twice", "six-times", "sparse-p", "small-p",
          "far-3m", "far-1km", "far-1000km", "table"]


def scan(name):
    """A bundled scan in world coordinates."""
    points = g.read_points(os.path.join(ROOT, "examples", name + ".vrt"))
    return g.transform(g.read_pose(os.path.join(ROOT, "examples", "gt_world", name + ".txt")),
                       points)


def strays(points, share, rng):
    lo, hi = points.min(axis=0) - 20, points.max(axis=0) + 20
    return np.vstack([points, rng.uniform(lo, hi, (int(share * len(points)), 3))])


def table(points, rng):
    """As many points again on a flat table just under the scan (its lowest y), 300 mm wide."""
    n = len(points)
    centre = points.mean(axis=0)
    xz = rng.uniform(-150, 150, (n, 2))
    y = np.full(n, points[:, 1].min() - 0.5) + rng.normal(0, 0.1, n)
    return np.vstack([points, np.column_stack([xz[:, 0] + centre[0], y, xz[:, 1] + centre[2]])])


def with_fault(fault, p, q, rng):
    """P and Q (world coordinates) carrying `fault`."""
    if fault.startswith("strays-"):
        share = float(fault.split("-")[1]) / 100
        return strays(p, share, rng), strays(q, share, rng)
    if fault in ("twice", "six-times"):
        k = 2 if fault == "twice" else 6
        return np.repeat(p, k, axis=0), np.repeat(q, k, axis=0)
    if fault == "sparse-p":
        return p[rng.random(len(p)) < 0.05], q
    if fault == "small-p":
        near = g.nearest_within(p, q, 1.0)
        spot = q[rng.choice(np.flatnonzero(np.isfinite(near)))]
        return p[np.argsort(np.linalg.norm(p - spot, axis=1))[: len(p) // 10]], q
    if fault.startswith("far-"):
        off = {"far-3m": 3e3, "far-1km": 1e6, "far-1000km": 1e9}[fault]
        return (np.vstack([p, p.mean(axis=0) + [off, 0, 0]]),
                np.vstack([q, q.mean(axis=0) - [0, off, 0]]))
    if fault == "table":
        return table(p, rng), table(q, rng)
    return p, q


def object_centre(points):
    """The centroid of the points that make up the object: a point written far off would move
    the plain centroid away with it, and a right motion's small turn would show there as a large
    gap. Every point of a scan without such points."""
    median = np.median(points, axis=0)
    reach = np.linalg.norm(points - median, axis=1)
    return points[reach <= 10 * np.median(reach)].mean(axis=0)


def run_case(align, folder, name, p, q, rng):
    """Writes the case (Q moved by a random motion) and runs it; the run's outcome."""
    move = g.displacement(rng, q.mean(axis=0), 100.0)
    q_file, p_file = (os.path.join(folder, f"{name}-{s}.xyz") for s in ("Q", "P"))
    np.savetxt(p_file, p, fmt="%.10g")
    np.savetxt(q_file, g.transform(move, q), fmt="%.10g")
    out = bench_kestrel.run_align(align, ["--any-pose", "--quiet"], p_file, q_file,
                                  os.path.join(folder, name + ".tfm"), 120)
    out["right"] = False
    if out.get("matrix") is not None:
        angle, gap = g.motion_errors(np.array(out["matrix"]), np.linalg.inv(move),
                                     object_centre(g.transform(move, q)))
        out.update(angle=angle, gap=gap, right=angle < 5 and gap < 5)
    return out


def report(rows, faults):
    lines = ["| fault | pairs right | confident | confident and wrong | median s | slowest s |",
             "|---|---|---|---|---|---|"]
    for fault in faults:
        mine = [r for r in rows if r["fault"] == fault]
        times = [r["wall_s"] for r in mine]
        lines.append(
            f"| {fault} | {sum(r['right'] for r in mine)}/{len(mine)} "
            f"| {sum(r.get('verdict') == 'confident' for r in mine)} "
            f"| {sum(r.get('verdict') == 'confident' and not r['right'] for r in mine)} "
            f"| {statistics.median(times):.2f} | {max(times):.2f} |")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "scan-faults"))
    ap.add_argument("--report")
    ap.add_argument("--faults", default=",".join(FAULTS))
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    align = os.path.join(os.path.abspath(args.build), "tools", "kestrel-align")
    faults = args.faults.split(",")
    os.makedirs(args.out, exist_ok=True)
    rows = []
    for fault in faults:
        for a, b in PAIRS:
            rng = np.random.default_rng([args.seed, FAULTS.index(fault), PAIRS.index((a, b))])
            p, q = with_fault(fault, scan(a), scan(b), rng)
            out = run_case(align, args.out, f"{a}-{b}-{fault}", p, q, rng)
            rows.append(dict(out, fault=fault))
            print(f"{fault:11s} {a}-{b}: {out['status']} {out.get('verdict')} "
                  f"{out.get('angle', float('nan')):.2f} deg {out.get('gap', float('nan')):.2f} mm "
                  f"{out['wall_s']:.2f} s", file=sys.stderr)
    text = "# Faulty scans\n\n" + report(rows, faults) + "\n"
    print(text)
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
