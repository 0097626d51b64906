#!/usr/bin/python3
"""Sets of scans for kestrel-assemble: several views of one object, each file in a random pose of
its own and the files in shuffled order, with the truth kept beside them.

    /usr/bin/python3 bench/assembly_sets.py simulated SHAPE VIEWS POINTS FOLDER [--seed N]
    /usr/bin/python3 bench/assembly_sets.py bunny FOLDER [--seed N]      (the four example scans)
    /usr/bin/python3 bench/assembly_sets.py check FOLDER POSES.json

A set folder holds scan-NN.xyz and truth.json: {"file": 4x4 matrix taking the file's points into
one world frame}. `check` compares a poses.json with the truth: every placed scan's rotation
error and the distance at its centroid, relative to the first file, as kestrel-assemble reports
poses; it prints one line per scan and exits 1 when one is off by more than 0.5 degrees or 0.5 mm
(the scale of the files) or placed when it should not be.
"""
import argparse
import json
import os
import sys

import numpy as np

import bench_geometry as g
from synthetic_shapes import SHAPES, make_shape, pixel_for, scan, unit

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
NOISE_SHARE = 0.001  # range noise as a share of the shape's size


def ring_views(count, rng, alternate=True):
    """`count` view directions around the object: a turntable ring whose elevation alternates
    between above and below the object (or stays above it), so every view overlaps its
    neighbours."""
    out = []
    for k in range(count):
        a = 2 * np.pi * k / count + rng.uniform(-0.1, 0.1)
        elevation = 0.35 if k % 2 == 0 or not alternate else -0.15
        out.append(unit(np.array([np.cos(a), np.sin(a), elevation])))
    return out


def write_set(folder, scans, worlds, rng):
    """Moves each scan by a random displacement, writes them in shuffled order with truth.json."""
    os.makedirs(folder, exist_ok=True)
    order = rng.permutation(len(scans))
    truth = {}
    for slot, k in enumerate(order):
        points = scans[k]
        size = float(np.ptp(points, axis=0).max())
        move = g.displacement(rng, points.mean(axis=0), 0.5 * size)
        name = f"scan-{slot:02d}.xyz"
        np.savetxt(os.path.join(folder, name), g.transform(move, points), fmt="%.7g")
        truth[name] = (worlds[k] @ np.linalg.inv(move)).tolist()
    with open(os.path.join(folder, "truth.json"), "w") as f:
        json.dump(truth, f, indent=1)


def simulated(args):
    rng = np.random.default_rng(args.seed)
    points, normals, size = make_shape(args.shape, args.points)
    scans = []
    for view in ring_views(args.views, rng, not getattr(args, "level", False)):
        pixel = pixel_for(points, normals, view, args.points, rng)
        scans.append(scan(points, normals, view, pixel, NOISE_SHARE * size, rng))
    write_set(args.folder, scans, [np.eye(4)] * len(scans), rng)


def bunny(args):
    rng = np.random.default_rng(args.seed)
    scans, worlds = [], []
    for name in ("bun000", "bun045", "bun090", "bun315"):
        scans.append(np.loadtxt(os.path.join(ROOT, "examples", name + ".vrt")))
        worlds.append(np.loadtxt(os.path.join(ROOT, "examples", "gt_world", name + ".txt")))
    write_set(args.folder, scans, worlds, rng)


def check(args):
    with open(os.path.join(args.folder, "truth.json")) as f:
        truth = {k: np.array(v) for k, v in json.load(f).items()}
    with open(args.poses) as f:
        poses = json.load(f)
    ref = np.array(truth[os.path.basename(poses["reference"])])
    worst, bad = (0.0, 0.0), 0
    for s in poses["scans"]:
        name = os.path.basename(s["file"])
        if name not in truth:
            print(f"{name}: not of the object, {'PLACED' if s['placed'] else 'left out'}")
            bad += s["placed"]
            continue
        if not s["placed"]:
            print(f"{name}: NOT PLACED")
            bad += 1
            continue
        expected = np.linalg.inv(ref) @ truth[name]
        centroid = np.loadtxt(os.path.join(args.folder, name)).mean(axis=0)
        angle, gap = g.motion_errors(np.array(s["matrix"]), expected, centroid)
        worst = (max(worst[0], angle), max(worst[1], gap))
        off = angle > 0.5 or gap > 0.5
        bad += off
        print(f"{name}: {angle:.3f} deg {gap:.3f} at centroid{'  OFF' if off else ''}")
    print(f"worst {worst[0]:.3f} deg {worst[1]:.3f}; {bad} wrong; {poses.get('time_s', 0):.2f} s")
    return 1 if bad else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="what", required=True)
    s = sub.add_parser("simulated")
    s.add_argument("shape", choices=sorted(SHAPES))
    s.add_argument("views", type=int)
    s.add_argument("points", type=int)
    s.add_argument("folder")
    s.add_argument("--seed", type=int, default=1)
    s.add_argument("--level", action="store_true", help="every view from above the object")
    b = sub.add_parser("bunny")
    b.add_argument("folder")
    b.add_argument("--seed", type=int, default=1)
    c = sub.add_parser("check")
    c.add_argument("folder")
    c.add_argument("poses")
    args = parser.parse_args()
    if args.what == "simulated":
        simulated(args)
    elif args.what == "bunny":
        bunny(args)
    else:
        return check(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
