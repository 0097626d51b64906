"""align_files, align on arrays from read_points and kestrel-align give the same motion."""

import json
import subprocess

import numpy as np
import pytest

import kestrel
from conftest import P_FILE, Q_FILE

# Each case: the keywords, and the aligner's options that say the same.
CASES = {
    # No LCP reaches 0.9 on this pair, so all 7 trials run, over bases of at most 100 mm.
    "given_limits": (
        {"num_try": 7, "thr": 0.9, "base_max_len": 100},
        ["-y", "7", "-t", "0.9", "-q", "100"],
    ),
    "defaults": ({}, []),
    "icp_noise_turned": (
        {"icp": True, "noise": True, "random_positions": 1, "overlap": 0.6, "delta": 1.1},
        ["--icp", "--noise", "--random-position", "1", "-o", "0.6", "--delta", "1.1"],
    ),
    "any_pose_overlap": (
        {"any_pose": True, "overlap": 0.9},
        ["--any-pose", "-o", "0.9"],
    ),
    "ransac_no_centering": (
        {"ransac": True, "centering": False, "num_try": 3, "isamp": 800, "overlap": 0.4},
        ["--ransac", "-c", "-y", "3", "-i", "800", "-o", "0.4"],
    ),
}


def run_aligner(aligner, tmp_path, args):
    matrix = tmp_path / "matrix.txt"
    out = subprocess.run(
        [aligner, *args, "--json", "--matrix", str(matrix), "--out", str(tmp_path / "r.tfm"),
         P_FILE, Q_FILE],
        capture_output=True, text=True)
    assert out.returncode in (0, 3), out.stderr  # written: confident or not
    return np.loadtxt(matrix), json.loads(out.stdout.strip().splitlines()[-1])


@pytest.mark.parametrize("case", CASES.keys())
def test_three_ways_give_one_matrix(case, aligner, bunny, tmp_path):
    keywords, args = CASES[case]
    cli_matrix, cli = run_aligner(aligner, tmp_path, args)
    from_files = kestrel.align_files(P_FILE, Q_FILE, **keywords)
    from_arrays = kestrel.align(*bunny, **{"icp": False, "any_pose": False, **keywords})

    # The files hold 6 digits and the matrix file 17, so equal means bit for bit.
    np.testing.assert_array_equal(from_files.matrix, cli_matrix)
    np.testing.assert_array_equal(from_arrays.matrix, cli_matrix)
    if case == "given_limits":
        assert cli["trials"] == 7
    for r in (from_files, from_arrays):
        assert r.best_lcp == pytest.approx(cli["best_lcp"], abs=1e-6)
        assert r.trials == cli["trials"]
        assert r.verdict == cli["verdict"]
        assert r.evidence.keys() == cli["evidence"].keys()
        assert not r.stopped
        assert (r.icp_error is None) == ("icp_error" not in cli)
        if r.icp_error is not None:
            assert r.icp_error == pytest.approx(cli["icp_error"], rel=1e-5)
            np.testing.assert_array_equal(r.coarse_matrix, cli["coarse_matrix"])


def test_align_searches_any_pose_and_refines_by_default(bunny):
    by_default = kestrel.align(*bunny)
    spelled_out = kestrel.align_files(P_FILE, Q_FILE, any_pose=True, icp=True)
    np.testing.assert_array_equal(by_default.matrix, spelled_out.matrix)
    assert by_default.icp_error is not None
    assert by_default.stage_ms["normals"] > 0  # the any-pose search fitted its normals


def test_the_motion_is_close_to_the_ground_truth(bunny):
    from conftest import EXAMPLES
    world = {s: np.loadtxt(EXAMPLES / "gt_world" / f"{s}.txt") for s in ("bun000", "bun045")}
    truth = np.linalg.inv(world["bun000"]) @ world["bun045"]
    r = kestrel.align(*bunny, any_pose=False)
    q = bunny[1][::50]
    moved = q @ r.matrix[:3, :3].T + r.matrix[:3, 3]
    expected = q @ truth[:3, :3].T + truth[:3, 3]
    assert np.median(np.linalg.norm(moved - expected, axis=1)) < 1.0  # mm, after ICP


def test_result_reports_the_engines_counts_and_stages(bunny):
    r = kestrel.align(*bunny, any_pose=False, icp=False)
    assert {"trials", "pairs_d1", "pairs_d2", "quads", "candidates",
            "lcp_early_exits"} <= set(r.counts)
    assert {"base_selection", "pair_extraction", "quad_search", "motion_estimation",
            "lcp_scoring"} <= set(r.stage_ms)
    assert r.counts["trials"] == r.trials > 0
    assert r.counts["candidates"] > 0 and r.best_lcp > 0.5
    assert r.icp_error is None and r.icp_time_s == 0
    assert 0 < r.p_points < len(bunny[0]) and 0 < r.q_points < len(bunny[1])
    assert r.matrix.shape == (4, 4) and r.matrix.dtype == np.float64
    np.testing.assert_array_equal(r.matrix, r.coarse_matrix)
    assert "best_lcp=" in repr(r)
