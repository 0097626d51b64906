#!/usr/bin/python3
"""The any-pose mode on objects other than the bunny: synthetic range scans of analytic shapes.

Usage (after building kestrel-align in BUILD):
    /usr/bin/python3 bench/synthetic_scans.py [--build build] [--shapes blob,plate]
        [--angles 35,60,85] [--densities 10000,40000] [--units mm,m] [--displacements 1]
        [--no-open3d] [--out FOLDER]

Four shapes are made with numpy alone: a smooth blob (a sphere with low-frequency bumps), an
elongated bent body, a flat plate with holes and a boss (nearly symmetric), and a bracket (two
plates at an angle). Each is scanned from two viewpoints ANGLE degrees apart through a z-buffer
on an orthographic pixel grid, with range noise along the view, at each density (points of P's
scan) and in millimetres and metres. Q is then turned by a seeded uniform rotation and
translation, and `kestrel-align --any-pose --icp --json` registers it onto P (Open3D's RANSAC
and FGR on FPFH too, when `import open3d` works). A motion succeeds when its rotation error is
under 5 degrees and its error at Q's centroid under 2 % of the shape's size (its longest
bounding-box side). Scans, truths, logs and report.md go to BUILD/synth; nothing is committed.
"""
import argparse
import os
import sys
import time
import zlib

import numpy as np

import bench_geometry as g
import bench_kestrel
import bench_open3d

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SUCCESS_DEGREES = 5.0
SUCCESS_SHARE = 0.02      # of the shape's size, at Q's centroid
NOISE_SHARE = 0.002       # range noise (standard deviation) as a share of the shape's size
DENSE_FACTOR = 20         # surface samples per scan point, so every pixel sees a few
GRAZING_COS = 0.2         # faces seen more obliquely than about 78 degrees return nothing
UNIT_SCALE = {"mm": 1.0, "m": 0.001}

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


def write_scan(path, points):
    """One 'x y z' line per point, with 7 significant digits whatever the unit."""
    np.savetxt(path, points, fmt="%.7g")


def make_cases(args, folder):
    """Scans every shape at every angle and density, displaces Q and writes both scans in every
    unit, with the truth. Returns the cases as dicts."""
    cases = []
    for name in args.shapes:
        _, first, swing = SHAPES[name]
        dense = {}
        for target in args.densities:
            points, normals, size = dense.get(target) or make_shape(name, target)
            dense[target] = (points, normals, size)
            for angle in args.angles:
                v1, v2 = views(first, swing, angle)
                rng = np.random.default_rng([args.seed, zlib.crc32(f"{name}{angle}{target}".encode())])
                pixel = pixel_for(points, normals, v1, target, rng)
                noise = NOISE_SHARE * size
                p = scan(points, normals, v1, pixel, noise, rng)
                q = scan(points, normals, v2, pixel, noise, rng)
                radius = 1.5 * pixel + 3 * noise
                for k in range(args.displacements):
                    move = g.displacement(rng, q.mean(axis=0), 0.5 * size)
                    q_moved = g.transform(move, q)
                    truth = np.linalg.inv(move)
                    share = g.overlap(p, q_moved, truth, radius)
                    for unit_name in args.units:
                        s = UNIT_SCALE[unit_name]
                        scaled = truth.copy()
                        scaled[:3, 3] *= s
                        label = f"{name}-{angle}-{target // 1000}k-{unit_name}-d{k + 1}"
                        p_file = os.path.join(folder, f"{label}-P.xyz")
                        q_file = os.path.join(folder, f"{label}-Q.xyz")
                        write_scan(p_file, s * p)
                        write_scan(q_file, s * q_moved)
                        np.savetxt(os.path.join(folder, f"{label}-truth.txt"), scaled, fmt="%.17g",
                                   header=f"true motion of {q_file} onto {p_file}")
                        cases.append({"label": label, "shape": name, "angle": angle,
                                      "p": s * p, "q": s * q_moved, "radius": s * radius,
                                      "target": target, "unit": unit_name, "scale": s,
                                      "size": s * size, "voxel": s * size / 40,
                                      "p_file": p_file, "q_file": q_file,
                                      "p_points": len(p), "q_points": len(q),
                                      "overlap": share, "truth": scaled,
                                      "q_centroid": s * q_moved.mean(axis=0)})
            say(f"scanned {name} at {target} points")
    return cases


def judge(case, matrix):
    """(success, rotation error in degrees, error at Q's centroid as a % of the size, share of
    Q within the overlap radius of P under the motion). Where a wrong motion fits Q as well as
    the truth does, the scans themselves cannot tell the two apart at that radius."""
    if matrix is None:
        return False, None, None, None
    matrix = np.asarray(matrix)
    angle, gap = g.motion_errors(matrix, case["truth"], case["q_centroid"])
    share = gap / case["size"]
    fit = g.overlap(case["p"], case["q"], matrix, case["radius"])
    return angle < SUCCESS_DEGREES and share < SUCCESS_SHARE, angle, 100 * share, fit


def run_kestrel(args, align, case, folder):
    out = bench_kestrel.run_align(align, ["--any-pose", "--profile", "--quiet"], case["p_file"],
                                  case["q_file"], os.path.join(folder, case["label"] + ".tfm"),
                                  args.timeout)
    record = {"status": out["status"], "message": out["message"],
              "trials": out.get("trials"), "best_lcp": out.get("best_lcp"),
              "run_s": out.get("run_s"),
              "profile": out.get("profile")}
    if out["status"] == "ok":
        icp = out.get("icp_s") or 0.0
        record.update(global_s=out["wall_s"] - icp, total_s=out["wall_s"])
    else:
        record.update(global_s=out["wall_s"], total_s=out["wall_s"])
    record["coarse"] = judge(case, out.get("coarse"))
    record["refined"] = judge(case, out.get("matrix"))
    return record


def run_open3d(args, worker, algorithm, case):
    value, problem = worker.call(args.timeout, bench_open3d.register, case["p_file"],
                                 case["q_file"], algorithm, case["voxel"])
    if value is None:
        return {"status": problem, "coarse": judge(case, None), "refined": judge(case, None),
                "global_s": args.timeout if problem == "timeout" else None, "total_s": None}
    return {"status": "ok", "coarse": judge(case, value["coarse"]),
            "refined": judge(case, value["matrix"]), "global_s": value["global_s"],
            "total_s": value["total_s"]}


def say(text):
    print(text, flush=True)


def cell(verdict):
    ok, angle, share, fit = verdict
    if angle is None:
        return "none"
    return f"ok {angle:.1f}° {share:.1f}%" if ok else f"FAIL {angle:.0f}° {share:.0f}% fit {fit:.2f}"


def seconds(value):
    return "" if value is None else f"{value:.2f}"


def case_table(cases, methods):
    head = ["case", "P/Q points", "overlap"]
    for m in methods:
        head += [f"{m} global", f"{m} refined", f"{m} s"]
    head += ["kestrel search s", "kestrel trials", "kestrel LCP", "kestrel status"]
    rows = []
    for c in cases:
        row = [c["label"], f"{c['p_points']}/{c['q_points']}", f"{c['overlap']:.2f}"]
        for m in methods:
            r = c["runs"][m]
            row += [cell(r["coarse"]), cell(r["refined"]),
                    f"{seconds(r['global_s'])} / {seconds(r['total_s'])}"]
        k = c["runs"]["kestrel"]
        row += [seconds(k.get("run_s")), str(k["trials"] or ""), "" if k["best_lcp"] is None else f"{k['best_lcp']:.3f}",
                k["status"] + (f" ({k['message']})" if k["message"] else "")]
        rows.append(row)
    return markdown(head, rows)


def shape_table(cases, methods):
    head = ["shape", "cases", "overlap range"]
    for m in methods:
        head += [f"{m} global ok", f"{m} refined ok", f"{m} median s (global/total)"]
    rows = []
    groups = {}
    for c in cases:
        groups.setdefault((c["shape"], c["target"], c["unit"]), []).append(c)
    for (shape, target, unit_name), group in groups.items():
        shares = [c["overlap"] for c in group]
        row = [f"{shape} {target // 1000}k {unit_name}", str(len(group)),
               f"{min(shares):.2f}-{max(shares):.2f}"]
        for m in methods:
            runs = [c["runs"][m] for c in group]
            times = [r["global_s"] for r in runs if r["global_s"] is not None]
            totals = [r["total_s"] for r in runs if r["total_s"] is not None]
            row += [f"{sum(r['coarse'][0] for r in runs)}/{len(runs)}",
                    f"{sum(r['refined'][0] for r in runs)}/{len(runs)}",
                    f"{seconds(np.median(times) if times else None)} / "
                    f"{seconds(np.median(totals) if totals else None)}"]
        rows.append(row)
    return markdown(head, rows)


def markdown(head, rows):
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    lines += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(lines)


def arguments():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"),
                    help="build folder holding tools/kestrel-align (default: build)")
    ap.add_argument("--out", help="folder for scans, runs and report.md (default: BUILD/synth)")
    ap.add_argument("--shapes", default=",".join(SHAPES), help="shapes to scan (default: all)")
    ap.add_argument("--angles", default="35,60,85",
                    help="degrees between the two views (default 35,60,85)")
    ap.add_argument("--densities", default="10000,40000",
                    help="points of P's scan (default 10000,40000)")
    ap.add_argument("--units", default="mm,m", help="units to write the scans in (default mm,m)")
    ap.add_argument("--displacements", type=int, default=1,
                    help="seeded displacements of Q per scan pair (default 1)")
    ap.add_argument("--seed", type=int, default=1, help="seed of scans and displacements")
    ap.add_argument("--timeout", type=float, default=60.0, help="seconds per run (default 60)")
    ap.add_argument("--no-open3d", action="store_true", help="skip Open3D even if it imports")
    args = ap.parse_args()
    args.shapes = [s for s in args.shapes.split(",") if s]
    unknown = [s for s in args.shapes if s not in SHAPES]
    args.units = [u for u in args.units.split(",") if u]
    if unknown or any(u not in UNIT_SCALE for u in args.units):
        ap.error(f"shapes are {', '.join(SHAPES)}; units are {', '.join(UNIT_SCALE)}")
    args.angles = [int(a) for a in args.angles.split(",")]
    args.densities = [int(d) for d in args.densities.split(",")]
    return args


def open3d_available():
    try:
        import open3d  # noqa: F401  (only whether it imports)
        return True
    except ImportError:
        return False


def main():
    args = arguments()
    align = os.path.join(args.build, "tools", "kestrel-align")
    if not os.access(align, os.X_OK):
        sys.exit(f"{align} not found: build the kestrel-align target first")
    out = args.out or os.path.join(args.build, "synth")
    scans, runs = os.path.join(out, "scans"), os.path.join(out, "runs")
    os.makedirs(scans, exist_ok=True)
    os.makedirs(runs, exist_ok=True)
    cases = make_cases(args, scans)
    methods = ["kestrel"]
    worker = None
    if not args.no_open3d and open3d_available():
        methods += ["o3d-ransac", "o3d-fgr"]
        worker = bench_open3d.OpenWorker()
    started = time.time()
    try:
        for c in cases:
            c["runs"] = {"kestrel": run_kestrel(args, align, c, runs)}
            for m in methods[1:]:
                c["runs"][m] = run_open3d(args, worker, m[4:], c)
            say(f"{c['label']}: overlap {c['overlap']:.2f}, " + ", ".join(
                f"{m} {cell(c['runs'][m]['coarse'])} -> {cell(c['runs'][m]['refined'])}"
                for m in methods))
    finally:
        if worker:
            worker.close()
    report = "\n\n".join([
        "# Any-pose registration of synthetic range scans",
        f"kestrel-align --any-pose --icp --json --profile against "
        f"{', '.join(methods[1:]) or 'nothing else (Open3D not importable)'}; "
        f"{len(cases)} cases in {time.time() - started:.0f} s on a shared machine (times are "
        f"provisional). Success: rotation error < {SUCCESS_DEGREES:g}° and error at Q's centroid "
        f"< {100 * SUCCESS_SHARE:g} % of the shape's size; a cell reads verdict, rotation error, "
        f"centroid error in % of the size and, for a failure, the share of Q within the overlap "
        f"radius of P under that motion (\"none\": no motion). Overlap: share of Q within "
        f"1.5 pixels + 3 noise sigmas of P under the truth. Noise {100 * NOISE_SHARE:g} % of the "
        f"size along the view. Times in seconds: global / total (with ICP) wall time, files "
        f"read included; kestrel search s is the engine's own search time. Open3D voxel: size/40.",
        "## Per shape, density and unit", shape_table(cases, methods),
        "## Per case", case_table(cases, methods)])
    with open(os.path.join(out, "report.md"), "w") as f:
        f.write(report + "\n")
    say("\n" + report)


if __name__ == "__main__":
    main()
