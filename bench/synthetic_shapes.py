"""Analytic test shapes and simulated range scans of them, for bench/synthetic_scans.py.

A shape is a dense, area-uniform sample of its surface with outward normals, in millimetres and
roughly centred on the origin; a scan keeps what an orthographic range scanner would see of it.
"""
import zlib

import numpy as np

DENSE_FACTOR = 20         # surface samples per scan point, so every pixel sees a few
GRAZING_COS = 0.2         # faces seen more obliquely than about 78 degrees return nothing

# ---------------------------------------------------------------------------------------------
# Shapes: dense samples with outward normals, in millimetres, roughly centred on the origin.


def unit(v):
    return v / np.linalg.norm(v, axis=-1, keepdims=True)


def sphere_directions(rng, n):
    return unit(rng.normal(size=(n, 3)))


def bumps(u, centres, amplitudes, widths):
    """Sum of smooth bumps over the unit sphere: exp(-(1 - u.c) / w) is a Gaussian in the angle."""
    return sum(a * np.exp(-(1.0 - u @ c) / w) for c, a, w in zip(centres, amplitudes, widths))


def sphere_map_samples(surface, rng, n):
    """Area-uniform samples of the surface p = surface(u) over unit directions u, with normals.
    The area each direction stands for comes from the map's Jacobian; directions are kept with a
    probability in proportion to it. The map must keep orientation, so normals point out."""
    pts, nrm, bound = [], [], None
    while sum(len(p) for p in pts) < n:
        u = sphere_directions(rng, n)
        t1 = unit(np.cross(u, np.where(np.abs(u[:, :1]) < 0.9, [[1.0, 0, 0]], [[0, 1.0, 0]])))
        t2 = np.cross(u, t1)
        eps = 1e-4
        d1 = (surface(unit(u + eps * t1)) - surface(unit(u - eps * t1))) / (2 * eps)
        d2 = (surface(unit(u + eps * t2)) - surface(unit(u - eps * t2))) / (2 * eps)
        cross = np.cross(d1, d2)
        area = np.linalg.norm(cross, axis=1)
        bound = bound or 1.2 * area.max()  # the first draw's largest, with room to spare
        keep = rng.uniform(size=n) * bound < area
        pts.append(surface(u[keep]))
        nrm.append(cross[keep] / area[keep, None])
    return np.vstack(pts)[:n], np.vstack(nrm)[:n]


def blob(rng, n):
    """A potato: an ellipsoid 110 x 90 x 76 with eight low-frequency bumps and dents."""
    axes = np.array([55.0, 45.0, 38.0])
    shape_rng = np.random.default_rng(11)
    centres = sphere_directions(shape_rng, 8)
    amplitudes = np.array([0.3, -0.15, 0.25, 0.2, -0.12, 0.18, 0.22, -0.1])
    widths = np.array([0.12, 0.25, 0.08, 0.2, 0.15, 0.3, 0.1, 0.2])

    def surface(u):
        r = 1.0 / np.sqrt(((u / axes) ** 2).sum(axis=1))
        return (r * (1.0 + bumps(u, centres, amplitudes, widths)))[:, None] * u
    return sphere_map_samples(surface, rng, n)


def elongated(rng, n):
    """An ellipsoid 150 x 56 x 44 bent along its length, with two gentle bumps."""
    axes = np.array([75.0, 28.0, 22.0])
    centres = unit(np.array([[0.6, 0.5, 0.6], [-0.7, -0.2, 0.5]]))
    amplitudes, widths = np.array([0.12, 0.08]), np.array([0.1, 0.15])

    def surface(u):
        r = 1.0 / np.sqrt(((u / axes) ** 2).sum(axis=1))
        p = (r * (1.0 + bumps(u, centres, amplitudes, widths)))[:, None] * u
        p[:, 2] += 0.003 * p[:, 0] ** 2 - 8.0  # the bend shears along z: orientation is kept
        return p
    return sphere_map_samples(surface, rng, n)


def frame(origin, x_axis, z_axis):
    """A local frame (origin, 3 x 3 matrix of axes as columns) from two orthogonal directions."""
    x_axis, z_axis = unit(np.asarray(x_axis, float)), unit(np.asarray(z_axis, float))
    return np.asarray(origin, float), np.column_stack([x_axis, np.cross(z_axis, x_axis), z_axis])


def rect_samples(rng, n, a, b):
    return rng.uniform(size=(n, 2)) * [a, b]


def box(place, size, holes=()):
    """A plate [0,L] x [0,W] x [0,T] in frame `place` with round holes (x, y, r) through it.
    Returns (area, sampler, inside): sampler(rng, density) -> points, normals in the world;
    inside(points, eps) -> whether points lie in the closed solid."""
    length, width, thick = size
    origin, axes = place
    holes = [np.array(h, float) for h in holes]

    def in_hole(xy, margin):
        return np.any([np.hypot(*(xy - h[:2]).T) < h[2] - margin for h in holes], axis=0) \
            if holes else np.zeros(len(xy), bool)

    faces = [("z", length * width), ("z", length * width), ("x", width * thick),
             ("x", width * thick), ("y", length * thick), ("y", length * thick)]
    area = sum(a for _, a in faces) + sum(2 * np.pi * h[2] * thick for h in holes)

    def sampler(rng, density):
        pts, nrm = [], []
        for side in (0, 1):
            xy = rect_samples(rng, int(density * length * width), length, width)
            xy = xy[~in_hole(xy, 0.0)]
            pts.append(np.column_stack([xy, np.full(len(xy), side * thick)]))
            nrm.append(np.tile([0, 0, 2 * side - 1.0], (len(xy), 1)))
            yz = rect_samples(rng, int(density * width * thick), width, thick)
            pts.append(np.column_stack([np.full(len(yz), side * length), yz]))
            nrm.append(np.tile([2 * side - 1.0, 0, 0], (len(yz), 1)))
            xz = rect_samples(rng, int(density * length * thick), length, thick)
            pts.append(np.column_stack([xz[:, 0], np.full(len(xz), side * width), xz[:, 1]]))
            nrm.append(np.tile([0, 2 * side - 1.0, 0], (len(xz), 1)))
        for x, y, r in holes:
            m = int(density * 2 * np.pi * r * thick)
            angle, z = rng.uniform(0, 2 * np.pi, m), rng.uniform(0, thick, m)
            radial = np.column_stack([np.cos(angle), np.sin(angle), np.zeros(m)])
            pts.append(np.column_stack([x + r * radial[:, 0], y + r * radial[:, 1], z]))
            nrm.append(-radial)  # a hole's wall faces its axis
        return origin + np.vstack(pts) @ axes.T, np.vstack(nrm) @ axes.T

    def inside(points, eps):
        local = (points - origin) @ axes
        box_in = np.all((local >= -eps) & (local <= np.array(size) + eps), axis=1)
        return box_in & ~in_hole(local[:, :2], eps)
    return area, sampler, inside


def cylinder(place, radius, height):
    """A solid round boss of `radius` on the frame's x-y plane, `height` along its z axis."""
    origin, axes = place
    area = 2 * np.pi * radius * height + 2 * np.pi * radius ** 2

    def disc(rng, m):
        r, angle = radius * np.sqrt(rng.uniform(size=m)), rng.uniform(0, 2 * np.pi, m)
        return np.column_stack([r * np.cos(angle), r * np.sin(angle)])

    def sampler(rng, density):
        m = int(density * 2 * np.pi * radius * height)
        angle, z = rng.uniform(0, 2 * np.pi, m), rng.uniform(0, height, m)
        radial = np.column_stack([np.cos(angle), np.sin(angle), np.zeros(m)])
        pts, nrm = [radius * radial + np.column_stack([0 * z, 0 * z, z])], [radial]
        for side in (0, 1):
            xy = disc(rng, int(density * np.pi * radius ** 2))
            pts.append(np.column_stack([xy, np.full(len(xy), side * height)]))
            nrm.append(np.tile([0, 0, 2 * side - 1.0], (len(xy), 1)))
        return origin + np.vstack(pts) @ axes.T, np.vstack(nrm) @ axes.T

    def inside(points, eps):
        local = (points - origin) @ axes
        return (np.hypot(local[:, 0], local[:, 1]) <= radius + eps) \
            & (local[:, 2] >= -eps) & (local[:, 2] <= height + eps)
    return area, sampler, inside


def union_samples(parts, rng, n):
    """About n samples over the surface of a union of solids: each part's samples that lie in
    (or on) another part are inner faces and are dropped."""
    density = n / sum(area for area, _, _ in parts)
    pts, nrm = [], []
    for i, (_, sampler, _) in enumerate(parts):
        p, m = sampler(rng, density)
        keep = np.ones(len(p), bool)
        for j, (_, _, inside) in enumerate(parts):
            if j != i:
                keep &= ~inside(p, 1e-6)
        pts.append(p[keep])
        nrm.append(m[keep])
    return np.vstack(pts), np.vstack(nrm)


def plate(rng, n):
    """A 120 x 80 x 8 plate with four corner holes and a centre hole, symmetric but for a boss
    of radius 11 and height 10 off the long axis."""
    flat = frame([-60, -40, -4], [1, 0, 0], [0, 0, 1])
    holes = [(15, 15, 5), (105, 15, 5), (15, 65, 5), (105, 65, 5), (60, 40, 9)]
    boss = frame([-28, 12, 4], [1, 0, 0], [0, 0, 1])
    return union_samples([box(flat, (120, 80, 8), holes), cylinder(boss, 11, 10)], rng, n)


def bracket(rng, n):
    """An angle bracket: a 100 x 60 x 6 base and a 70 x 60 x 6 wall hinged on its end, leaning
    back 10 degrees past upright, with two holes in the base and one in the wall."""
    lean = np.radians(100.0)
    up = np.array([np.cos(lean), 0, np.sin(lean)])
    base = frame([-50, -30, -20], [1, 0, 0], [0, 0, 1])
    outward = np.array([-np.sin(lean), 0, np.cos(lean)])  # keeps the wall's y along the base's
    wall = frame(np.array([-50, -30, -20]) - 6 * outward, up, outward)
    return union_samples([box(base, (100, 60, 6), [(40, 18, 5), (75, 42, 5)]),
                          box(wall, (70, 60, 6), [(45, 30, 7)])], rng, n)


# Each shape: its sampler, the first view (unit vector towards the camera) and how the second
# view swings away from it: "turntable" about the vertical, "over" the top towards +z.
SHAPES = {
    "blob": (blob, [0.8, 0.45, 0.4], "turntable"),
    "elongated": (elongated, [0.3, 0.85, 0.45], "turntable"),
    "plate": (plate, [0.45, -0.3, 0.84], "over"),
    "bracket": (bracket, [0.75, -0.35, 0.55], "turntable"),
}


def views(first, swing, angle):
    """The two view directions `angle` degrees apart."""
    v1 = unit(np.asarray(first, float))
    z = np.array([0, 0, 1.0])
    s = unit(np.cross(z, v1)) if swing == "turntable" else unit(z - (z @ v1) * v1)
    a = np.radians(angle)
    return v1, np.cos(a) * v1 + np.sin(a) * s


# ---------------------------------------------------------------------------------------------
# Range scans


def scan(points, normals, view, pixel, noise, rng):
    """A range image of the samples seen along -`view` on an orthographic grid of `pixel`:
    the front-most front-facing sample of each pixel, if no neighbouring pixel sees a surface
    well in front of it, moved along its tangent plane onto the pixel's centre ray; then noise of
    standard deviation `noise` along the view. Returns the scan's points."""
    e1 = unit(np.cross(view, [0.3, 0.5, 0.8] if abs(view[2]) < 0.9 else [1.0, 0, 0]))
    e2 = np.cross(view, e1)
    facing = normals @ view > GRAZING_COS
    p, n = points[facing], normals[facing]
    uv = np.column_stack([p @ e1, p @ e2])
    depth = -(p @ view)
    cell = np.floor((uv - uv.min(axis=0)) / pixel).astype(np.int64) + 1
    shape = cell.max(axis=0) + 2
    key = cell[:, 0] * shape[1] + cell[:, 1]
    order = np.lexsort((depth, key))
    first = order[np.r_[True, key[order][1:] != key[order][:-1]]]
    zbuf = np.full(shape, np.inf)
    zbuf[cell[first, 0], cell[first, 1]] = depth[first]
    near = zbuf.copy()
    for dx in (-1, 0, 1):
        for dy in (-1, 0, 1):
            near[1:-1, 1:-1] = np.minimum(near[1:-1, 1:-1],
                                          zbuf[1 + dx:shape[0] - 1 + dx, 1 + dy:shape[1] - 1 + dy])
    cos = n[first] @ view
    slack = pixel * (1.0 + 1.5 * np.sqrt(1 - cos ** 2) / cos)  # a steep face's own depth step
    seen = first[depth[first] <= near[cell[first, 0], cell[first, 1]] + slack]
    centre = (cell[seen] - 0.5) * pixel + uv.min(axis=0)
    du, dv = (centre - uv[seen]).T
    nn = n[seen]
    along = -(du * (nn @ e1) + dv * (nn @ e2)) / (nn @ view)
    out = p[seen] + du[:, None] * e1 + dv[:, None] * e2 + along[:, None] * view
    return out + rng.normal(0, noise, len(out))[:, None] * view


def pixel_for(points, normals, view, target, rng):
    """The pixel size that gives the scan along `view` about `target` points: a guess from the
    facing samples' extent, corrected by the counts that scans with it give."""
    e1 = unit(np.cross(view, [0.3, 0.5, 0.8]))
    e2 = np.cross(view, e1)
    facing = points[normals @ view > GRAZING_COS]
    extent = np.ptp(facing @ e1) * np.ptp(facing @ e2)
    pixel = np.sqrt(0.5 * extent / target)
    for _ in range(3):
        pixel *= np.sqrt(len(scan(points, normals, view, pixel, 0.0, rng)) / target)
    return pixel


def make_shape(name, target):
    """Dense samples of shape `name`, enough for a scan of `target` points, and its size."""
    sampler = SHAPES[name][0]
    rng = np.random.default_rng(zlib.crc32(name.encode()))
    points, normals = sampler(rng, DENSE_FACTOR * target)
    size = float((points.max(axis=0) - points.min(axis=0)).max())
    return points, normals, size
