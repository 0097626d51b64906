"""The peer: Open3D's global registration on FPFH features (RANSAC or FGR) followed by its
point-to-plane ICP, set up as Open3D's own tutorial does, with the voxel size as the one knob.

These functions run in a worker process (see OpenWorker), so a hung call can be killed and
Open3D's threads never share a process with the driver's subprocesses.
"""
import multiprocessing
import time

import numpy as np

RANSAC_ITERATIONS = 100000  # Open3D tutorial's convergence criteria: 100000 draws, 0.999
RANSAC_CONFIDENCE = 0.999
ICP_ITERATIONS = 30


def _o3d():
    import open3d
    return open3d


def _read(path):
    return _o3d().io.read_point_cloud(path, format="xyz")


def _ransac(q_down, p_down, q_fpfh, p_fpfh, voxel):
    """Open3D's RANSAC on FPFH matches, as its users set it up: pairs within 1.5 voxels."""
    reg = _o3d().pipelines.registration
    reach = 1.5 * voxel
    return reg.registration_ransac_based_on_feature_matching(
        q_down, p_down, q_fpfh, p_fpfh, True, reach,
        reg.TransformationEstimationPointToPoint(False), 3,
        [reg.CorrespondenceCheckerBasedOnEdgeLength(0.9),
         reg.CorrespondenceCheckerBasedOnDistance(reach)],
        reg.RANSACConvergenceCriteria(RANSAC_ITERATIONS, RANSAC_CONFIDENCE))


def _features(cloud, voxel):
    o3d = _o3d()
    down = cloud.voxel_down_sample(voxel)
    down.estimate_normals(o3d.geometry.KDTreeSearchParamHybrid(radius=2 * voxel, max_nn=30))
    fpfh = o3d.pipelines.registration.compute_fpfh_feature(
        down, o3d.geometry.KDTreeSearchParamHybrid(radius=5 * voxel, max_nn=100))
    return down, fpfh


def register(p_file, q_file, algorithm, voxel):
    """Moves Q onto P with `algorithm` ("ransac" or "fgr") at `voxel` mm, then point-to-plane ICP
    on the full clouds. Times include reading both files. Returns plain lists and floats."""
    o3d = _o3d()
    reg = o3d.pipelines.registration
    t0 = time.perf_counter()
    p, q = _read(p_file), _read(q_file)
    p_down, p_fpfh = _features(p, voxel)
    q_down, q_fpfh = _features(q, voxel)
    if algorithm == "ransac":
        result = _ransac(q_down, p_down, q_fpfh, p_fpfh, voxel)
    elif algorithm == "fgr":
        result = reg.registration_fgr_based_on_feature_matching(
            q_down, p_down, q_fpfh, p_fpfh,
            reg.FastGlobalRegistrationOption(maximum_correspondence_distance=0.5 * voxel))
    else:
        raise ValueError(f"unknown Open3D algorithm {algorithm!r}")
    coarse = np.asarray(result.transformation).copy()
    t_global = time.perf_counter() - t0
    p.estimate_normals(o3d.geometry.KDTreeSearchParamHybrid(radius=2 * voxel, max_nn=30))
    refined = reg.registration_icp(
        q, p, 1.5 * voxel, coarse, reg.TransformationEstimationPointToPlane(),
        reg.ICPConvergenceCriteria(max_iteration=ICP_ITERATIONS))
    t_total = time.perf_counter() - t0
    return {"coarse": coarse.tolist(), "global_s": t_global,
            "matrix": np.asarray(refined.transformation).tolist(), "total_s": t_total}


def _read_any(path):
    """A point file by its ending: ".xyz" text, anything else as Open3D reads it by name."""
    o3d = _o3d()
    return o3d.io.read_point_cloud(path, format="xyz") if path.endswith(".xyz") else \
        o3d.io.read_point_cloud(path)


def register_large(p_file, q_file, voxel=5.0, icp_voxel=1.0):
    """Large scans as Open3D's users treat them: FPFH RANSAC on clouds thinned at `voxel`, then
    point-to-plane ICP on clouds thinned at `icp_voxel` (model units). Times include reading."""
    o3d = _o3d()
    reg = o3d.pipelines.registration
    t0 = time.perf_counter()
    p, q = _read_any(p_file), _read_any(q_file)
    t_read = time.perf_counter() - t0
    p_down, p_fpfh = _features(p, voxel)
    q_down, q_fpfh = _features(q, voxel)
    result = _ransac(q_down, p_down, q_fpfh, p_fpfh, voxel)
    coarse = np.asarray(result.transformation).copy()
    t_global = time.perf_counter() - t0
    p_fine, q_fine = p.voxel_down_sample(icp_voxel), q.voxel_down_sample(icp_voxel)
    p_fine.estimate_normals(o3d.geometry.KDTreeSearchParamHybrid(radius=2 * icp_voxel, max_nn=30))
    refined = reg.registration_icp(
        q_fine, p_fine, 2 * icp_voxel, coarse, reg.TransformationEstimationPointToPlane(),
        reg.ICPConvergenceCriteria(max_iteration=ICP_ITERATIONS))
    t_total = time.perf_counter() - t0
    return {"coarse": coarse.tolist(), "global_s": t_global, "read_s": t_read,
            "matrix": np.asarray(refined.transformation).tolist(), "total_s": t_total}


def ground_truth_check(p_file, q_file, truth, radius):
    """How well the recorded ground truth aligns the scans: the median point-to-plane residual
    of Q's points within `radius` of P, and how far a point-to-plane ICP started from the truth
    (correspondences within `radius`) moves it, in degrees and mm at Q's centroid."""
    o3d = _o3d()
    reg = o3d.pipelines.registration
    p, q = _read(p_file), _read(q_file)
    p.estimate_normals(o3d.geometry.KDTreeSearchParamKNN(30))
    truth = np.asarray(truth)
    q_moved = np.asarray(q.points) @ truth[:3, :3].T + truth[:3, 3]
    tree = o3d.geometry.KDTreeFlann(p)
    p_pts, p_nrm = np.asarray(p.points), np.asarray(p.normals)
    residuals = []
    for x in q_moved:
        k, idx, d2 = tree.search_knn_vector_3d(x, 1)
        if k and d2[0] <= radius * radius:
            residuals.append(abs(float(np.dot(p_nrm[idx[0]], x - p_pts[idx[0]]))))
    refined = reg.registration_icp(q, p, radius, truth, reg.TransformationEstimationPointToPlane(),
                                   reg.ICPConvergenceCriteria(max_iteration=ICP_ITERATIONS))
    return {"plane_residual_mm": float(np.median(residuals)) if residuals else float("nan"),
            "icp_from_truth": np.asarray(refined.transformation).tolist()}


def versions():
    import matplotlib
    return {"open3d": _o3d().__version__, "numpy": np.__version__,
            "matplotlib": matplotlib.__version__}


class OpenWorker:
    """One worker process for the Open3D calls, replaced when a call outlives its timeout."""

    def __init__(self):
        self._ctx = multiprocessing.get_context("spawn")
        self._pool = None

    def call(self, timeout, fn, *args):
        """Returns (value, None); (None, "timeout") when the call took longer than `timeout`
        seconds, after which the worker is killed so the next call starts fresh; or (None,
        message) when the call raised."""
        try:
            if self._pool is None:
                self._pool = self._ctx.Pool(1)
                self._pool.apply(versions)  # pays Open3D's import before anything is timed
            return self._pool.apply_async(fn, args).get(timeout), None
        except multiprocessing.TimeoutError:
            self.close()
            return None, "timeout"
        except Exception as error:  # Open3D's own failures arrive as plain exceptions
            return None, f"{type(error).__name__}: {error}"

    def close(self):
        if self._pool is not None:
            self._pool.terminate()
            self._pool.join()
            self._pool = None
