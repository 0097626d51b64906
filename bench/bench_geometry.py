"""Rigid-motion arithmetic of the benchmark (numpy only, so the tests run without Open3D).

Motions are 4 x 4 numpy arrays acting on column vectors: x' = M[:3, :3] @ x + M[:3, 3].
Lengths are millimetres, angles degrees.
"""
import numpy as np


def read_points(path):
    """Reads the x y z columns of a .vrt/.xyz file into an (N, 3) float array."""
    return np.loadtxt(path, usecols=(0, 1, 2), ndmin=2)


def write_points(path, points):
    """Writes one 'x y z' line per point; 0.1 um is far below the scans' 6 digits."""
    np.savetxt(path, points, fmt="%.4f")


def read_pose(path):
    """Reads a 4 x 4 row-major matrix (examples/gt_world/<scan>.txt)."""
    m = np.loadtxt(path)
    if m.shape != (4, 4):
        raise ValueError(f"{path}: expected a 4 x 4 matrix, found shape {m.shape}")
    return m


def transform(m, points):
    return points @ m[:3, :3].T + m[:3, 3]


def ground_truth(world_p, world_q):
    """The motion taking Q's file coordinates onto P's, from both scans' scan-to-world poses."""
    return np.linalg.inv(world_p) @ world_q


def random_rotation(rng):
    """A rotation drawn uniformly over all rotations (normalised Gaussian quaternion)."""
    q = rng.normal(size=4)
    w, x, y, z = q / np.linalg.norm(q)
    return np.array([
        [1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
        [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
        [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)],
    ])


def displacement(rng, centre, max_translation):
    """A uniform random rotation about `centre` followed by a translation drawn uniformly from
    the ball of radius `max_translation`, so the scan turns in place rather than swinging away."""
    r = random_rotation(rng)
    direction = rng.normal(size=3)
    direction /= np.linalg.norm(direction)
    t = direction * max_translation * rng.uniform() ** (1.0 / 3.0)
    m = np.eye(4)
    m[:3, :3] = r
    m[:3, 3] = centre - r @ centre + t
    return m


def motion_errors(found, expected, point):
    """Rotation error (degrees) between two motions and the distance (mm) between the places
    they send `point`. A uniform scale left by a refinement is divided out of the rotation."""
    a = found[:3, :3]
    scale = abs(np.linalg.det(a)) ** (1.0 / 3.0) or 1.0
    cos = (np.trace(a.T @ expected[:3, :3]) / scale - 1.0) / 2.0
    angle = np.degrees(np.arccos(np.clip(cos, -1.0, 1.0)))
    gap = np.linalg.norm(transform(found, point[None])[0] - transform(expected, point[None])[0])
    return float(angle), float(gap)


def nearest_within(reference, queries, radius):
    """For each query point, the distance to its nearest reference point if that is at most
    `radius`, else inf. Exact: a grid of radius-sized cells, so each query only meets the
    reference points of the 27 cells around its own."""
    out = np.full(len(queries), np.inf)
    if len(reference) == 0 or len(queries) == 0:
        return out
    origin = np.minimum(reference.min(axis=0), queries.min(axis=0)) - radius
    span = np.floor((np.maximum(reference.max(axis=0), queries.max(axis=0)) - origin)
                    / radius).astype(np.int64) + 3

    def cells(points):
        return np.floor((points - origin) / radius).astype(np.int64) + 1

    def keys(c):
        return (c[:, 0] * span[1] + c[:, 1]) * span[2] + c[:, 2]

    ref_keys = keys(cells(reference))
    order = np.argsort(ref_keys, kind="stable")
    ref, ref_keys = reference[order], ref_keys[order]
    q_cells = cells(queries)
    best = np.full(len(queries), np.inf)
    for offset in np.stack(np.meshgrid([-1, 0, 1], [-1, 0, 1], [-1, 0, 1]), -1).reshape(-1, 3):
        k = keys(q_cells + offset)
        lo = np.searchsorted(ref_keys, k, side="left")
        count = np.searchsorted(ref_keys, k, side="right") - lo
        total = int(count.sum())
        if total == 0:
            continue
        query = np.repeat(np.arange(len(queries)), count)
        first = np.repeat(np.cumsum(count) - count, count)
        candidate = np.repeat(lo, count) + np.arange(total) - first
        d2 = ((queries[query] - ref[candidate]) ** 2).sum(axis=1)
        np.minimum.at(best, query, d2)
    near = best <= radius * radius
    out[near] = np.sqrt(best[near])
    return out


def overlap(p_points, q_points, q_to_p, radius=1.0):
    """Share of Q's points that lie within `radius` of P once moved by `q_to_p`."""
    d = nearest_within(p_points, transform(q_to_p, q_points), radius)
    return float(np.isfinite(d).mean())
