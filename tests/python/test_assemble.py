"""kestrel.assemble: the record kestrel-assemble writes, from arrays or paths, here or with its
pairs run on a two-worker Dask cluster, which must give exactly the local result."""

import json
import os
import subprocess

import numpy as np
import pytest

import kestrel
from conftest import EXAMPLES

NAMES = ("bun000", "bun045", "bun315")


@pytest.fixture(scope="module")
def scan_files(tmp_path_factory):
    """Three overlapping bunny scans, thinned to every 8th point, turned and shuffled."""
    folder = tmp_path_factory.mktemp("scans")
    rng = np.random.default_rng(3)
    files = []
    for name in NAMES[::-1]:
        points = kestrel.read_points(str(EXAMPLES / (name + ".vrt")))[::8]
        q, _ = np.linalg.qr(rng.normal(size=(3, 3)))
        q *= np.sign(np.linalg.det(q))
        path = folder / (name + ".xyz")
        np.savetxt(path, points @ q.T + rng.normal(size=3) * 30, fmt="%.7g")
        files.append(str(path))
    return files


@pytest.fixture(scope="module")
def local(scan_files):
    return kestrel.assemble(scan_files)


def same_record(a, b):
    assert [s["placed"] for s in a["scans"]] == [s["placed"] for s in b["scans"]]
    for x, y in zip(a["scans"], b["scans"]):
        assert (x["matrix"] is None) == (y["matrix"] is None)
        if x["matrix"] is not None:
            assert np.array_equal(x["matrix"], y["matrix"])
            assert x["residual_mm"] == y["residual_mm"]
    assert [(p["a"], p["b"], p["verdict"], p["used"]) for p in a["pairs"]] == \
        [(p["a"], p["b"], p["verdict"], p["used"]) for p in b["pairs"]]


def test_places_every_scan_of_paths_and_arrays(scan_files, local):
    assert local["reference"] == scan_files[0]
    assert all(s["placed"] for s in local["scans"])
    assert np.array_equal(local["scans"][0]["matrix"], np.eye(4))
    arrays = [kestrel.read_points(f) for f in scan_files]
    mixed = kestrel.assemble([scan_files[0], arrays[1], arrays[2]], threads=1)
    assert [s["file"] for s in mixed["scans"]] == [scan_files[0], None, None]
    # read_points keeps the file's floats as the command's reader does: the same result.
    same_record(local, mixed)


def test_matches_the_command(scan_files, local, tmp_path):
    program = os.path.join(os.path.dirname(os.environ["KESTREL_ALIGN"]), "kestrel-assemble")
    out = tmp_path / "out"
    done = subprocess.run([program, "--quiet", "--out", str(out)] + scan_files)
    assert done.returncode == 0
    with open(out / "poses.json") as f:
        poses = json.load(f)
    for s, t in zip(local["scans"], poses["scans"]):
        assert s["file"] == t["file"]
        assert np.array_equal(s["matrix"], np.array(t["matrix"]))


def test_refuses_bad_input(scan_files):
    for call in (lambda: kestrel.assemble(scan_files[:1]),
                 lambda: kestrel.assemble(scan_files, threads=3),
                 lambda: kestrel.assemble(scan_files, max_seconds=0),
                 lambda: kestrel.assemble([scan_files[0], np.zeros((5, 2))]),
                 lambda: kestrel.assemble([scan_files[0], "/no/such/file.xyz"])):
        with pytest.raises(ValueError):
            call()


def test_dask_gives_the_local_result(scan_files, local):
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        remote = kestrel.assemble(scan_files, client=client)
    same_record(local, remote)
