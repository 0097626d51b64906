#!/usr/bin/python3
"""Many scans into one model: kestrel-assemble against Open3D's multiway registration.

    /usr/bin/python3 bench/assembly_bench.py [--build build] [--out build/assembly-bench]
        [--sets bunny,blob:10,bracket:10] [--points 20000] [--no-open3d] [--report FILE]

Each set is made by assembly_sets.py (every file in a random pose of its own, in shuffled
order, with the truth): `bunny` from the four example scans, SHAPE:N from N simulated views of a
bench shape. Both methods run on the same files in the same run, one after the other.
Open3D's multiway registration is set up as its tutorial does: every pair registered by RANSAC
on FPFH features and refined by point-to-plane ICP, the pairs as a pose graph started from the
chain of consecutive files, then its global optimiser (Levenberg-Marquardt, edge pruning 0.25,
reference node 0); unlike the tutorial every edge is a prunable loop closure, since in shuffled
order consecutive files need not overlap. Its voxel is a fiftieth of the scans' size
(--voxel-share). A scan is right when it lies within 0.5 degrees and 0.5 (file units, at its
centroid) of the truth relative to the first file; a benchmark, never a test.
"""
import argparse
import json
import os
import subprocess
import sys
import time
from types import SimpleNamespace

import numpy as np

import assembly_sets
import bench_geometry as g

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RIGHT_DEGREES = 0.5
RIGHT_DISTANCE = 0.5


def make_set(recipe, folder, points, seed):
    if recipe == "bunny":
        assembly_sets.bunny(SimpleNamespace(folder=folder, seed=seed))
    else:
        shape, views = recipe.split(":")
        assembly_sets.simulated(SimpleNamespace(shape=shape, views=int(views), points=points,
                                                folder=folder, seed=seed))
    with open(os.path.join(folder, "truth.json")) as f:
        truth = {k: np.array(v) for k, v in json.load(f).items()}
    files = [os.path.join(folder, name) for name in sorted(truth)]
    return files, truth


def errors(files, truth, matrices):
    """Per file: None when not placed, else (degrees, distance at its centroid)."""
    ref = truth[os.path.basename(files[0])]
    out = []
    for f, m in zip(files, matrices):
        if m is None:
            out.append(None)
            continue
        expected = np.linalg.inv(ref) @ truth[os.path.basename(f)]
        centroid = np.loadtxt(f).mean(axis=0)
        out.append(g.motion_errors(np.asarray(m), expected, centroid))
    return out


def run_kestrel(program, files, folder):
    out = os.path.join(folder, "kestrel-out")
    t0 = time.perf_counter()
    done = subprocess.run([program, "--quiet", "--out", out] + files)
    seconds = time.perf_counter() - t0
    with open(os.path.join(out, "poses.json")) as f:
        poses = json.load(f)
    return seconds, [s["matrix"] if s["placed"] else None for s in poses["scans"]], done.returncode


def run_open3d(files, voxel):
    import open3d as o3d
    reg = o3d.pipelines.registration
    t0 = time.perf_counter()
    clouds, downs, feats = [], [], []
    for f in files:
        c = o3d.io.read_point_cloud(f, format="xyz")
        c.estimate_normals(o3d.geometry.KDTreeSearchParamHybrid(radius=2 * voxel, max_nn=30))
        d = c.voxel_down_sample(voxel)
        d.estimate_normals(o3d.geometry.KDTreeSearchParamHybrid(radius=2 * voxel, max_nn=30))
        feats.append(reg.compute_fpfh_feature(
            d, o3d.geometry.KDTreeSearchParamHybrid(radius=5 * voxel, max_nn=100)))
        clouds.append(c)
        downs.append(d)
    graph = reg.PoseGraph()
    odometry = np.eye(4)
    graph.nodes.append(reg.PoseGraphNode(odometry))
    n = len(files)
    for s in range(n):
        for t in range(s + 1, n):
            # As the tutorial: source s onto target t.
            coarse = reg.registration_ransac_based_on_feature_matching(
                downs[s], downs[t], feats[s], feats[t], True, 1.5 * voxel,
                reg.TransformationEstimationPointToPoint(False), 3,
                [reg.CorrespondenceCheckerBasedOnEdgeLength(0.9),
                 reg.CorrespondenceCheckerBasedOnDistance(1.5 * voxel)],
                reg.RANSACConvergenceCriteria(100000, 0.999))
            fine = reg.registration_icp(clouds[s], clouds[t], 1.5 * voxel, coarse.transformation,
                                        reg.TransformationEstimationPointToPlane())
            info = reg.get_information_matrix_from_point_clouds(
                clouds[s], clouds[t], 1.5 * voxel, fine.transformation)
            if t == s + 1:
                odometry = fine.transformation @ odometry
                graph.nodes.append(reg.PoseGraphNode(np.linalg.inv(odometry)))
            # Every edge may be pruned: in shuffled order consecutive files need not overlap,
            # and a wrong odometry edge that may not be pruned would misplace a scan.
            graph.edges.append(reg.PoseGraphEdge(s, t, fine.transformation, info,
                                                 uncertain=True))
    reg.global_optimization(
        graph, reg.GlobalOptimizationLevenbergMarquardt(),
        reg.GlobalOptimizationConvergenceCriteria(),
        reg.GlobalOptimizationOption(max_correspondence_distance=1.5 * voxel,
                                     edge_prune_threshold=0.25, reference_node=0))
    seconds = time.perf_counter() - t0
    # Node poses take each file into node 0's frame, which is the first file's.
    return seconds, [np.asarray(node.pose) for node in graph.nodes]


def summary(name, method, seconds, errs):
    placed = [e for e in errs if e is not None]
    right = sum(1 for e in placed if e[0] < RIGHT_DEGREES and e[1] < RIGHT_DISTANCE)
    worst = (max(e[0] for e in placed), max(e[1] for e in placed)) if placed else (0, 0)
    return (f"| {name} | {method} | {seconds:.1f} | {len(placed)}/{len(errs)} | {right} | "
            f"{len(placed) - right} | {worst[0]:.3f} | {worst[1]:.3f} |")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", help="folder for the sets and outputs (default BUILD/assembly-bench)")
    ap.add_argument("--sets", default="bunny,blob:10,bracket:10")
    ap.add_argument("--points", type=int, default=20000, help="points per simulated view")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--no-open3d", action="store_true")
    ap.add_argument("--voxel-share", type=float, default=50,
                    help="Open3D's voxel is the scans' size divided by this (default 50)")
    ap.add_argument("--report", help="also write the table to this file")
    args = ap.parse_args()
    out = args.out or os.path.join(args.build, "assembly-bench")
    program = os.path.join(args.build, "tools", "kestrel-assemble")
    rows = ["| set | method | seconds | placed | right | misplaced | worst degrees | worst distance |",
            "|---|---|---|---|---|---|---|---|"]
    for recipe in args.sets.split(","):
        folder = os.path.join(out, recipe.replace(":", "-"))
        files, truth = make_set(recipe, folder, args.points, args.seed)
        seconds, matrices, status = run_kestrel(program, files, folder)
        rows.append(summary(recipe, f"kestrel-assemble (exit {status})", seconds,
                            errors(files, truth, matrices)))
        print(rows[-1], flush=True)
        if not args.no_open3d:
            size = max(float(np.ptp(np.loadtxt(f), axis=0).max()) for f in files)
            seconds, matrices = run_open3d(files, size / args.voxel_share)
            rows.append(summary(recipe, "Open3D multiway", seconds, errors(files, truth, matrices)))
            print(rows[-1], flush=True)
    load = os.getloadavg()[0]
    text = "\n".join(rows) + f"\n\nLoad average at the end: {load:.2f}.\n"
    print(text)
    if args.report:
        with open(args.report, "w") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
