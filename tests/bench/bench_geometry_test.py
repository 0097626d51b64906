"""Checks the benchmark's motion arithmetic and overlap measure; skips when numpy is missing."""
import os
import sys
import unittest

try:
    import numpy as np
except ImportError:
    print("numpy is not installed: skipping the benchmark geometry tests")
    sys.exit(77)  # CTest's skip code for this test

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "bench"))
import bench_geometry as g  # noqa: E402

EXAMPLES = os.path.join(ROOT, "examples")


def axis_rotation(axis, degrees, t=(0, 0, 0)):
    axis = np.asarray(axis, float) / np.linalg.norm(axis)
    a = np.radians(degrees)
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    m = np.eye(4)
    m[:3, :3] = np.eye(3) + np.sin(a) * k + (1 - np.cos(a)) * k @ k
    m[:3, 3] = t
    return m


class MotionErrors(unittest.TestCase):
    def test_known_rotation_and_offset(self):
        found = axis_rotation([1, 2, 3], 10.0, t=(1.0, 0.0, 0.0))
        point = np.array([0.0, 0.0, 5.0])
        angle, gap = g.motion_errors(found, np.eye(4), point)
        self.assertAlmostEqual(angle, 10.0, places=6)
        self.assertAlmostEqual(gap, np.linalg.norm(g.transform(found, point[None])[0] - point))

    def test_uniform_scale_is_not_counted_as_rotation(self):
        expected = axis_rotation([0, 1, 0], 40.0)
        found = expected.copy()
        found[:3, :3] *= 1.02
        self.assertLess(g.motion_errors(found, expected, np.zeros(3))[0], 1e-5)

    def test_half_turn_is_180_degrees(self):
        self.assertAlmostEqual(g.motion_errors(axis_rotation([0, 0, 1], 180), np.eye(4),
                                               np.zeros(3))[0], 180.0, places=5)


class Displacements(unittest.TestCase):
    def test_rotations_are_uniform(self):
        # Under the uniform measure the angle has density (1 - cos a) / pi, so a quarter
        # turn or less holds (pi/2 - 1)/pi = 18.2 % of the draws.
        rng = np.random.default_rng(3)
        angles = []
        for _ in range(4000):
            r = g.random_rotation(rng)
            self.assertAlmostEqual(np.linalg.det(r), 1.0, places=9)
            angles.append(np.degrees(np.arccos(np.clip((np.trace(r) - 1) / 2, -1, 1))))
        share = np.mean(np.array(angles) <= 90.0)
        self.assertAlmostEqual(share, (np.pi / 2 - 1) / np.pi, delta=0.025)

    def test_centre_moves_at_most_the_translation_cap(self):
        rng = np.random.default_rng(5)
        centre = np.array([10.0, 90.0, 30.0])
        for _ in range(200):
            m = g.displacement(rng, centre, 50.0)
            self.assertLessEqual(np.linalg.norm(g.transform(m, centre[None])[0] - centre), 50.0)


class OverlapMeasure(unittest.TestCase):
    def test_nearest_within_matches_brute_force(self):
        rng = np.random.default_rng(11)
        ref = rng.uniform(0, 20, size=(3000, 3))
        queries = rng.uniform(-2, 22, size=(700, 3))
        got = g.nearest_within(ref, queries, 1.0)
        d = np.sqrt(((queries[:, None, :] - ref[None, :, :]) ** 2).sum(axis=2)).min(axis=1)
        want = np.where(d <= 1.0, d, np.inf)
        np.testing.assert_allclose(got, want)

    def test_ground_truth_of_two_poses_and_overlap_of_half_a_grid(self):
        # A 40 x 20 mm sheet seen by two scanners at known poses, each seeing one 30 x 20
        # mm part: the shared strip is 20 of Q's 30 mm.
        xs, ys = np.meshgrid(np.arange(0, 40, 0.5), np.arange(0, 20, 0.5))
        world = np.c_[xs.ravel(), ys.ravel(), np.zeros(xs.size)]
        w_p = axis_rotation([1, 1, 0], 70, t=(5, -3, 8))
        w_q = axis_rotation([0, 1, 1], -120, t=(-40, 2, 1))
        p = g.transform(np.linalg.inv(w_p), world[world[:, 0] < 30 - 1e-9])
        q = g.transform(np.linalg.inv(w_q), world[world[:, 0] >= 10 - 1e-9])
        truth = g.ground_truth(w_p, w_q)
        self.assertAlmostEqual(g.overlap(p, q, truth, 0.1), 40 / 60, places=6)
        self.assertLess(g.overlap(p, q, np.linalg.inv(truth), 0.1), 0.2)

    def test_example_poses_align_neighbouring_scans(self):
        # The recorded poses must put bun045 onto bun000; the reverse reading must not.
        p = g.read_points(os.path.join(EXAMPLES, "bun000.vrt"))
        q = g.read_points(os.path.join(EXAMPLES, "bun045.vrt"))
        w_p = g.read_pose(os.path.join(EXAMPLES, "gt_world", "bun000.txt"))
        w_q = g.read_pose(os.path.join(EXAMPLES, "gt_world", "bun045.txt"))
        truth = g.ground_truth(w_p, w_q)
        self.assertGreater(g.overlap(p, q, truth, 1.0), 0.85)
        self.assertLess(g.overlap(p, q, g.ground_truth(w_q, w_p), 1.0), 0.3)


if __name__ == "__main__":
    unittest.main()
