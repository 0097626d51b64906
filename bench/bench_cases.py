"""The benchmark's cases: every pair of example scans that overlaps enough, in the scans' own
frames and under seeded random displacements of Q. Displaced Q files and the true motions are
written to a scratch folder, never into the tree.
"""
import glob
import itertools
import os
import zlib

import numpy as np

import bench_geometry as g

OVERLAP_RADIUS = 1.0  # mm: a point of Q overlaps P when this close to it under the truth
# The benchmark's defaults, in one place so that other scripts build exactly its cases: pairs
# overlapping by 30 % or more, in their own frames and under six displacements of seed 1 of up
# to 50 mm (35 cases from the example scans).
BENCHMARK = {"min_overlap": 0.3, "displacements": 6, "seed": 1, "max_translation": 50.0}


def scan_pairs(examples, min_overlap):
    """Unordered pairs of scans (P is the one that sorts first) whose overlap Q->P is at least
    `min_overlap`, as dicts with names, files, ground truth and overlap, most overlap first.
    A pair and its reverse show the same surfaces, so one direction is enough."""
    names = sorted(os.path.basename(f)[:-4] for f in glob.glob(os.path.join(examples, "*.vrt"))
                   if os.path.exists(os.path.join(examples, "gt_world",
                                                  os.path.basename(f)[:-4] + ".txt")))
    points = {n: g.read_points(os.path.join(examples, n + ".vrt")) for n in names}
    poses = {n: g.read_pose(os.path.join(examples, "gt_world", n + ".txt")) for n in names}
    pairs = []
    for p, q in itertools.combinations(names, 2):
        truth = g.ground_truth(poses[p], poses[q])
        share = g.overlap(points[p], points[q], truth, OVERLAP_RADIUS)
        pairs.append({"name": f"{p}-{q}", "p": p, "q": q, "overlap": share, "truth": truth,
                      "p_file": os.path.join(examples, p + ".vrt"),
                      "q_file": os.path.join(examples, q + ".vrt"),
                      "q_points": points[q], "kept": share >= min_overlap})
    pairs.sort(key=lambda pair: -pair["overlap"])
    return pairs


def make_cases(pairs, scratch, displacements, seed, max_translation, own_frame=True):
    """Writes each pair's displaced Q files and true motions under `scratch`/cases and returns
    the cases: name, pair, overlap, p_file, q_file, truth (Q file -> P file), q_centroid (in the
    Q file's coordinates), displaced (False for the scans' own frames)."""
    folder = os.path.join(scratch, "cases")
    os.makedirs(folder, exist_ok=True)
    cases = []
    for pair in pairs:
        centroid = pair["q_points"].mean(axis=0)
        # Seeded by the pair's name, so adding or dropping a pair leaves the others' draws alone.
        rng = np.random.default_rng([seed, zlib.crc32(pair["name"].encode())])
        kinds = ([("own", np.eye(4))] if own_frame else []) + [
            (f"d{k}", g.displacement(rng, centroid, max_translation))
            for k in range(1, displacements + 1)]
        for kind, move in kinds:
            name = f"{pair['name']} {kind}"
            q_file = pair["q_file"]
            if kind != "own":
                q_file = os.path.join(folder, f"{pair['name']}-{kind}.vrt")
                g.write_points(q_file, g.transform(move, pair["q_points"]))
            truth = pair["truth"] @ np.linalg.inv(move)
            np.savetxt(os.path.join(folder, f"{pair['name']}-{kind}.truth.txt"), truth,
                       fmt="%.17g", header=f"true motion of {q_file} onto {pair['p_file']}")
            cases.append({"name": name, "pair": pair["name"], "overlap": pair["overlap"],
                          "p_file": pair["p_file"], "q_file": q_file, "truth": truth,
                          "q_centroid": g.transform(move, centroid[None])[0],
                          "displaced": kind != "own"})
    return cases
