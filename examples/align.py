"""Aligns two bundled bunny scans with the kestrel module and checks the motion against the
ground truth in gt_world/.

    PYTHONPATH=build/python /usr/bin/python3 examples/align.py [P_SCAN Q_SCAN]
"""

import pathlib
import sys

import numpy as np

import kestrel

here = pathlib.Path(__file__).resolve().parent
p_name, q_name = sys.argv[1:3] if len(sys.argv) == 3 else ("bun000", "bun045")

p = kestrel.read_points(here / f"{p_name}.vrt")
q = kestrel.read_points(here / f"{q_name}.vrt")
result = kestrel.align(p, q)  # any pose, then ICP

# Ground truth of q onto p: inv(W_p) @ W_q (see README.md here).
world = {s: np.loadtxt(here / "gt_world" / f"{s}.txt") for s in (p_name, q_name)}
truth = np.linalg.inv(world[p_name]) @ world[q_name]

np.set_printoptions(precision=4, suppress=True)
print(f"{q_name} onto {p_name}: {len(q)} points onto {len(p)}")
print("motion:")
print(result.matrix)
print(f"best LCP {result.best_lcp:.3f}, ICP error {result.icp_error:.4f} mm, "
      f"run {result.run_time_s:.2f} s + ICP {result.icp_time_s:.2f} s, trials {result.trials}")

# The difference of the two motions: a rotation angle, and how far q's points end up apart.
error = np.linalg.inv(truth) @ result.matrix
R = error[:3, :3] / np.cbrt(np.linalg.det(error[:3, :3]))  # ICP may add a uniform scale
angle = np.degrees(np.arccos(np.clip((np.trace(R) - 1) / 2, -1, 1)))
moved = q @ result.matrix[:3, :3].T + result.matrix[:3, 3]
expected = q @ truth[:3, :3].T + truth[:3, 3]
distance = np.linalg.norm(moved - expected, axis=1)
print(f"error against the ground truth: rotation {angle:.3f} deg, "
      f"point distance median {np.median(distance):.3f} mm, max {distance.max():.3f} mm")
