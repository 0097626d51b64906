"""Inputs the module refuses, with the error Python users expect, and inputs it takes as well."""

import numpy as np
import pytest

import kestrel
from conftest import P_FILE, bumpy_surface, rotation_z

SURFACE = bumpy_surface()


@pytest.mark.parametrize("bad, message", [
    (np.zeros((10, 2)), r"\(N, 3\).*\(10, 2\)"),
    (np.zeros(30), r"\(N, 3\).*\(30,\)"),
    (np.zeros((2, 5, 3)), r"\(N, 3\)"),
    (np.zeros((3, 3)), "3 points; a run needs at least 4"),
    (np.array([[0, 0, 0], [1, 0, 0], [0, 1, np.nan], [1, 1, 0]]), "not finite, in row 2"),
    (np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [1, np.inf, 0]]), "not finite, in row 3"),
    (np.zeros((5, 3), dtype=complex), "real numbers"),
    (np.zeros((5, 3), dtype=bool), "real numbers"),
    ([["a", "b", "c"]] * 5, "real numbers"),
    (np.zeros((6, 3)), "q: all points share one position"),  # nothing to triangulate
])
def test_bad_arrays_raise_value_error(bad, message):
    with pytest.raises(ValueError, match=message):
        kestrel.align(SURFACE, bad, any_pose=False)
    if "q:" not in message:
        with pytest.raises(ValueError, match=message.replace("q:", "p:")):
            kestrel.align(bad, SURFACE, any_pose=False)


def test_unreadable_files_raise_the_readers_message(tmp_path):
    missing = str(tmp_path / "missing.vrt")
    with pytest.raises(ValueError, match="missing.vrt: cannot open"):
        kestrel.read_points(missing)
    with pytest.raises(ValueError, match="missing.vrt: cannot open"):
        kestrel.align_files(P_FILE, missing)
    (tmp_path / "notes.doc").write_text("1 2 3\n")
    with pytest.raises(ValueError, match="unknown format"):
        kestrel.read_points(tmp_path / "notes.doc")
    (tmp_path / "empty.vrt").write_text("no numbers here\n")
    with pytest.raises(ValueError, match="no line holds a point"):
        kestrel.align_files(tmp_path / "empty.vrt", P_FILE)


def test_keywords_are_checked_like_python_arguments(tmp_path):
    assert {"overlap", "delta", "icp", "any_pose", "norm_diff"} <= set(kestrel.option_keywords)
    with pytest.raises(TypeError, match="unexpected keyword argument 'overlapp'"):
        kestrel.align(SURFACE, SURFACE, overlapp=0.5)
    with pytest.raises(TypeError, match="overlap must be a number, not str"):
        kestrel.align_files(P_FILE, P_FILE, overlap="0.5")
    with pytest.raises(TypeError, match="icp must be True or False"):
        kestrel.align(SURFACE, SURFACE, icp=1)
    with pytest.raises(TypeError, match="num_try must be a whole number"):
        kestrel.align(SURFACE, SURFACE, num_try=2.5)
    with pytest.raises(ValueError, match="isamp must be a whole number from 1"):
        kestrel.align(SURFACE, SURFACE, isamp=0)
    with pytest.raises(ValueError, match="delta must be finite"):
        kestrel.align(SURFACE, SURFACE, delta=float("nan"))
    with pytest.raises(ValueError, match="max_seconds"):
        kestrel.align(SURFACE, SURFACE, max_seconds=-1)
    with pytest.raises(ValueError, match="nowhere.txt"):
        kestrel.align(SURFACE, SURFACE, trans_file=tmp_path / "nowhere.txt")


# The any-pose search sets its own trials, threshold and base sizes; keywords that would change
# nothing in what comes back are not offered.
@pytest.mark.parametrize("keyword, value, error", [
    ("num_try", 5, ValueError),
    ("thr", 0.3, ValueError),
    ("base_max_len", 40, ValueError),
    ("do_scale", 2.0, TypeError),
    ("sample", 3, TypeError),
    ("debug", True, TypeError),
])
def test_keywords_that_would_not_act_are_refused(keyword, value, error):
    with pytest.raises(error, match=keyword):
        kestrel.align(SURFACE, SURFACE, **{keyword: value})


def test_dtype_and_memory_order_do_not_change_the_result():
    q = SURFACE @ rotation_z(20).T + [3, -2, 1]
    reference = kestrel.align(SURFACE, q, any_pose=False, icp=False).matrix
    for p_in, q_in in [(np.asfortranarray(SURFACE), np.asfortranarray(q)),
                       (SURFACE.tolist(), q.tolist()),
                       (SURFACE[::-1][::-1], q)]:
        np.testing.assert_array_equal(
            kestrel.align(p_in, q_in, any_pose=False, icp=False).matrix, reference)
    grid = np.rint(SURFACE)
    as_int = kestrel.align(grid.astype(np.int32), grid.astype(np.int64), any_pose=False)
    as_float = kestrel.align(grid.astype(np.float32), grid, any_pose=False)
    np.testing.assert_array_equal(as_int.matrix, as_float.matrix)


def test_a_known_motion_is_recovered():
    q = SURFACE @ rotation_z(-25).T + [4, 1, -2]
    r = kestrel.align(SURFACE, q, any_pose=False)
    moved = q @ r.matrix[:3, :3].T + r.matrix[:3, 3]
    assert np.abs(moved - SURFACE).max() < 0.05


# Every call that hands on no motion raises kestrel.NoMotion, a RuntimeError, with the reason
# kestrel-align prints when it exits with 2; a limit of 0 seconds is refused as the aligner does.
@pytest.mark.parametrize("p, q, options, message", [
    (SURFACE[:8], SURFACE[:8], {}, "Model P has 8 points, too few for a registration"),
    (SURFACE, SURFACE @ rotation_z(30).T, {"delta": 0}, "No motion found: "),
    (SURFACE, SURFACE @ rotation_z(30).T, {"delta": 0, "any_pose": False}, "No motion found: "),
])
def test_no_motion_raises_no_motion(p, q, options, message):
    assert issubclass(kestrel.NoMotion, RuntimeError)
    with pytest.raises(kestrel.NoMotion, match=message):
        kestrel.align(p, q, **options)


def test_a_limit_of_no_time_is_refused():
    with pytest.raises(ValueError, match="max_seconds must be a finite number of seconds above 0"):
        kestrel.align(SURFACE, SURFACE, max_seconds=0)


@pytest.mark.parametrize("text, error", [
    ("0 0 0\n1 0 0\n0 1 0\n1.5 2.5 3.5D+02\n", r"line 4: \"3.5D\+02\" is not a number"),
    ("0 0 0\n1 0 0\n4,5 1 0\n", r"line 3: \"4,5\" is not a number"),
])
def test_numbers_with_trailing_characters_are_refused_with_their_line(tmp_path, text, error):
    (tmp_path / "d.vrt").write_text(text)
    with pytest.raises(ValueError, match="d.vrt: " + error):
        kestrel.read_points(tmp_path / "d.vrt")


# Far coordinates come back exactly, and far arrays register as the same arrays near the origin.
def test_far_coordinates_are_read_exactly_and_register_as_near_ones(tmp_path):
    far = np.array([4.5e6, 5.4e6, 0])
    (tmp_path / "far.vrt").write_text("".join(f"{x:.4f} {y:.4f} {z:.4f}\n"
                                              for x, y, z in SURFACE[:50] + far))
    np.testing.assert_array_equal(kestrel.read_points(tmp_path / "far.vrt"),
                                  np.round(SURFACE[:50] + far, 4))
    q = SURFACE @ rotation_z(-25).T + [4, 1, -2]
    near = kestrel.align(SURFACE, q, any_pose=False).matrix
    out = kestrel.align(SURFACE + far, q + far, any_pose=False).matrix
    moved_near = q @ near[:3, :3].T + near[:3, 3] + far
    moved_far = (q + far) @ out[:3, :3].T + out[:3, 3]
    assert np.abs(moved_near - moved_far).max() < 0.05
