"""The low-overlap benchmark's cases (bench/low_overlap.py): scan pairs that share little, pairs
that share nothing, and ordinary pairs as a control, each Q turned and moved by a seeded motion.

A case is first a cheap recipe (name, section, how to make it); make_case() then scans, crops or
reads what it needs, writes P and Q as .xyz files with Q's true motion, and measures the overlap:
the share of Q's points within two point spacings of P once moved by the truth, where a scan's
point spacing is the median distance from its points to their nearest neighbours. Every draw is
seeded by the case's name, so a subset (--quick) gives the same cases as the full set.
"""
import glob
import itertools
import os
import zlib

import numpy as np

import bench_geometry as g
from synthetic_shapes import SHAPES, make_shape, pixel_for, scan, views, unit

SECTIONS = {"low": (0.08, 0.30), "none": (0.0, 0.04), "control": (0.30, 1.0)}
UNIT_SCALE = {"mm": 1.0, "m": 0.001}
BUNNY_SIZE = 150.0        # mm, about the bunny scans' longest side: the reference for scaling
SYNTH_POINTS = 15000      # points of a synthetic P scan
NOISE_SHARE = 0.002       # synthetic range noise (standard deviation), share of the shape's size
CROP_TARGETS = (0.10, 0.15, 0.20, 0.25)
HALVES_GAP = 10.0         # mm between the two halves of a split scan, about 20 point spacings
# Angles between the two views that leave 8-30 % of Q on P (measured, see the report), the
# middle one written in metres; then control views, and views from opposite sides.
LOW_ANGLES = {"blob": (112, 125, 135), "elongated": (104, 112, 120),
              "plate": (128, 138, 150), "bracket": (112, 125, 140)}
CONTROL_ANGLES = {"blob": (60, "mm"), "elongated": (75, "mm"), "plate": (90, "m"),
                  "bracket": (80, "mm")}
OPPOSITE_ANGLES = {"blob": 170, "elongated": 175}
BUNNY_VS_SHAPE = [("bun000", "blob"), ("bun045", "plate"), ("bun090", "bracket"),
                  ("bun315", "elongated"), ("blob", "bun045"), ("bracket", "bun000")]
SHAPE_VS_SHAPE = [("blob", "elongated", "mm"), ("plate", "bracket", "mm"),
                  ("elongated", "plate", "m")]
QUICK = {"bun090-bun315 d1", "crop bun000-bun045 10%", "crop bun045-bun090 20%",
         "blob 125° m", "plate 150° mm", "bun000 vs blob", "blob vs elongated mm",
         "bun000 halves", "bun000-bun045 d1", "bun045-bun315 d1", "blob 60° mm"}


def spacing(points):
    """Median distance from 300 seeded sample points to their nearest other point."""
    rng = np.random.default_rng(len(points))
    picked = rng.choice(len(points), min(300, len(points)), replace=False)
    squares = (points ** 2).sum(axis=1)
    nearest = []
    for chunk in np.array_split(picked, max(1, len(picked) // 30)):
        d2 = squares[chunk, None] + squares[None, :] - 2.0 * points[chunk] @ points.T
        d2[np.arange(len(chunk)), chunk] = np.inf  # the point itself
        nearest.append(np.sqrt(np.maximum(d2.min(axis=1), 0.0)))
    return float(np.median(np.concatenate(nearest)))


def overlap_radius(p, q):
    return 2.0 * max(spacing(p), spacing(q))


def view_axis(points):
    """The direction a range scan was taken along, near enough: its points' least spread."""
    centred = points - points.mean(axis=0)
    return np.linalg.svd(centred[:: max(1, len(points) // 5000)], full_matrices=False)[2][2]


def across(rng, axis):
    """A seeded unit direction at right angles to `axis`: cuts made along it cross the scan."""
    d = rng.normal(size=3)
    return unit(d - (d @ axis) * axis)


# ---------------------------------------------------------------------------------------------
# Sources: the example scans with their poses, and synthetic scans of the analytic shapes.


class Sources:
    """Reads each example scan and makes each dense shape once, on first use."""

    def __init__(self, examples):
        self.examples = examples
        self.names = sorted(os.path.basename(f)[:-4]
                            for f in glob.glob(os.path.join(examples, "*.vrt"))
                            if os.path.exists(os.path.join(examples, "gt_world",
                                                           os.path.basename(f)[:-4] + ".txt")))
        self._scans, self._shapes = {}, {}

    def bunny(self, name):
        """(points, scan-to-world pose) of example scan `name`."""
        if name not in self._scans:
            self._scans[name] = (g.read_points(os.path.join(self.examples, name + ".vrt")),
                                 g.read_pose(os.path.join(self.examples, "gt_world",
                                                          name + ".txt")))
        return self._scans[name]

    def pair(self, p, q):
        """Q's points and the truth taking them onto P's."""
        (_, world_p), (q_points, world_q) = self.bunny(p), self.bunny(q)
        return q_points, g.ground_truth(world_p, world_q)

    def shape(self, name, target):
        if (name, target) not in self._shapes:
            self._shapes[name, target] = make_shape(name, target)
        return self._shapes[name, target]

    def views_of(self, name, angle, target, rng, size=None):
        """Two scans of shape `name` `angle` degrees apart, P with about `target` points, the
        shape scaled to `size` mm when given; returns P, Q (same frame) and the shape's size."""
        points, normals, own = self.shape(name, target)
        if size is not None:
            points = points * (size / own)
        size = size or own
        _, first, swing = SHAPES[name]
        v1, v2 = views(first, swing, angle)
        pixel = pixel_for(points, normals, v1, target, rng)
        noise = NOISE_SHARE * size
        return scan(points, normals, v1, pixel, noise, rng), \
            scan(points, normals, v2, pixel, noise, rng), size

    def ordered_pairs(self):
        """Every ordered pair of example scans with the overlap Q -> P under the truth."""
        out = []
        for p, q in itertools.permutations(self.names, 2):
            q_points, truth = self.pair(p, q)
            p_points = self.bunny(p)[0]
            out.append((p, q, g.overlap(p_points, q_points, truth,
                                        overlap_radius(p_points, q_points))))
        return out


# ---------------------------------------------------------------------------------------------
# Specs: what each case is, cheap to list.


def recipes(sources):
    """All cases' recipes in report order: low overlap, no overlap, control."""
    pairs = sources.ordered_pairs()
    low_pairs = [(p, q) for p, q, s in pairs if SECTIONS["low"][0] <= s < SECTIONS["low"][1]]
    wide = sorted({tuple(sorted((p, q))) for p, q, s in pairs if s >= SECTIONS["control"][0]})
    out = []
    for p, q in low_pairs:
        out += [dict(name=f"{p}-{q} d{k}", section="low", kind="bunny pair", p=p, q=q)
                for k in (1, 2, 3)]
    for (p, q), target in itertools.product(wide, CROP_TARGETS):
        out.append(dict(name=f"crop {p}-{q} {100 * target:.0f}%", section="low",
                        kind="bunny crop", p=p, q=q, target=target))
    for shape, angles in LOW_ANGLES.items():
        out += [dict(name=f"{shape} {a}° {u}", section="low", kind="synthetic views",
                     shape=shape, angle=a, unit=u) for a, u in zip(angles, ("mm", "m", "mm"))]
    for p, q in BUNNY_VS_SHAPE:
        out.append(dict(name=f"{p} vs {q}", section="none", kind="bunny vs shape", p=p, q=q))
    for p, q, u in SHAPE_VS_SHAPE:
        out.append(dict(name=f"{p} vs {q} {u}", section="none", kind="shape vs shape",
                        p=p, q=q, unit=u))
    out += [dict(name=f"{n} halves", section="none", kind="split scan", p=n)
            for n in sources.names]
    for shape, angle in OPPOSITE_ANGLES.items():
        out.append(dict(name=f"{shape} {angle}° mm", section="none", kind="opposite views",
                        shape=shape, angle=angle, unit="mm"))
    for p, q in wide:
        out += [dict(name=f"{p}-{q} d{k}", section="control", kind="bunny pair", p=p, q=q)
                for k in (1, 2)]
    for shape, (angle, u) in CONTROL_ANGLES.items():
        out.append(dict(name=f"{shape} {angle}° {u}", section="control", kind="synthetic views",
                        shape=shape, angle=angle, unit=u))
    for s in out:
        s["quick"] = s["name"] in QUICK
    return out


# ---------------------------------------------------------------------------------------------
# Making a case


def crop_pair(p, q_on_p, target, rng, radius):
    """Masks of P and Q that keep opposite sides of two parallel cuts across P's view, so that
    a share `target` of the kept Q lies within `radius` of the kept P. Q keeps 50-70 % of its
    points; P's cut is placed by bisection (on a third of Q's points, then measured on all)."""
    for _ in range(20):
        d = across(rng, view_axis(p))
        a_p, a_q = p @ d, q_on_p @ d
        keep_q = a_q >= np.quantile(a_q, rng.uniform(0.3, 0.5))
        kept = q_on_p[keep_q][::3]

        def share(cut):
            return g.overlap(p[a_p <= cut], kept, np.eye(4), radius)
        lo, hi = a_p.min(), a_p.max()
        if share(hi) < target + 0.02:
            continue  # this direction leaves too little of Q over P: draw another
        for _ in range(24):
            mid = 0.5 * (lo + hi)
            lo, hi = (mid, hi) if share(mid) < target else (lo, mid)
        return a_p <= hi, keep_q
    raise RuntimeError(f"no cut leaves {target:.0%} of Q over P")


def split_scan(points, rng, gap):
    """Masks of the two sides of a cut across the scan at its median, `gap` apart."""
    a = points @ across(rng, view_axis(points))
    m = np.median(a)
    return a <= m - gap / 2, a >= m + gap / 2


def displaced(rng, q, size):
    """Q turned uniformly about its centroid and moved up to a third of the size."""
    return g.displacement(rng, q.mean(axis=0), size / 3.0)


def write_scan(path, points):
    """One 'x y z' line per point, with 7 significant digits whatever the unit."""
    np.savetxt(path, points, fmt="%.7g")


def make_case(recipe, sources, folder):
    """Writes the case's P and Q files (and truth) into `folder` and returns the case: the recipe
    plus p_file, q_file, p, q (points as written), truth (Q file -> P file, or None for
    different objects), overlap, radius, size, unit, tolerance (of the error at Q's centroid, in
    the case's unit), voxel (Open3D's 5 mm and 3 mm, scaled) and q_centroid."""
    rng = np.random.default_rng(zlib.crc32(recipe["name"].encode()))
    kind = recipe["kind"]
    unit_name = recipe.get("unit", "mm")
    if kind in ("bunny pair", "bunny crop"):
        p = sources.bunny(recipe["p"])[0]
        q, truth = sources.pair(recipe["p"], recipe["q"])
        size = BUNNY_SIZE
        if kind == "bunny crop":
            keep_p, keep_q = crop_pair(p, g.transform(truth, q), recipe["target"], rng,
                                       overlap_radius(p, q))
            p, q = p[keep_p], q[keep_q]
    elif kind in ("synthetic views", "opposite views"):
        p, q, size = sources.views_of(recipe["shape"], recipe["angle"], SYNTH_POINTS, rng)
        truth = np.eye(4)
    elif kind == "split scan":
        points = sources.bunny(recipe["p"])[0]
        keep_p, keep_q = split_scan(points, rng, HALVES_GAP)
        p, q, truth, size = points[keep_p], points[keep_q], np.eye(4), BUNNY_SIZE
    elif kind == "bunny vs shape":
        bunny, shape = (recipe["p"], recipe["q"]) if recipe["p"] in sources.names \
            else (recipe["q"], recipe["p"])
        b = sources.bunny(bunny)[0]
        # The shape's scan is scaled to the bunny's size and about its number of points.
        s, _, size = sources.views_of(shape, 0, len(b), rng, size=BUNNY_SIZE)
        p, q = (b, s) if bunny == recipe["p"] else (s, b)
        truth = None
    elif kind == "shape vs shape":
        p, _, size = sources.views_of(recipe["p"], 0, SYNTH_POINTS, rng)
        q = sources.views_of(recipe["q"], 0, SYNTH_POINTS, rng)[0]
        truth = None
    else:
        raise ValueError(f"unknown kind of case {kind!r}")
    move = displaced(rng, q, size)
    q = g.transform(move, q)
    truth = None if truth is None else truth @ np.linalg.inv(move)
    radius = overlap_radius(p, q)
    share = 0.0 if truth is None else g.overlap(p, q, truth, radius)
    # Open3D's voxels: 5 mm and 3 mm on the bunny, scaled with the size for other shapes.
    relative = 1.0 if kind in ("bunny pair", "bunny crop", "split scan", "bunny vs shape") \
        else size / BUNNY_SIZE
    s = UNIT_SCALE[unit_name]
    if s != 1.0:
        p, q, radius, size = s * p, s * q, s * radius, s * size
        if truth is not None:
            truth = truth.copy()
            truth[:3, 3] *= s
    stem = os.path.join(folder, recipe["name"].replace(" ", "_").replace("%", "pc").replace("°", ""))
    p_file, q_file = stem + "-P.xyz", stem + "-Q.xyz"
    write_scan(p_file, p)
    write_scan(q_file, q)
    if truth is not None:
        np.savetxt(stem + "-truth.txt", truth, fmt="%.17g",
                   header=f"true motion of {q_file} onto {p_file}")
    # Cases in millimetres are judged at 5 mm; in other units at 2 % of the shape's size.
    tolerance = 5.0 if unit_name == "mm" else 0.02 * size
    return dict(recipe, p_file=p_file, q_file=q_file, p=p, q=q, truth=truth, overlap=share,
                radius=radius, size=size, unit=unit_name, tolerance=tolerance,
                voxel={"5mm": 5.0 * relative * s, "3mm": 3.0 * relative * s},
                q_centroid=q.mean(axis=0))
