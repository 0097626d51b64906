#!/usr/bin/python3
"""Dense simulated range scans, as current scanners write them: a million to tens of millions of
points a view, in binary PLY and in text ("x y z" lines), for the large-scan benchmark.

Usage:
    /usr/bin/python3 bench/dense_scans.py --points 1000000 [--shapes blob,bracket]
        [--angle 40] [--out FOLDER] [--text]

Each shape of synthetic_shapes.py is first scanned through its z-buffer at a coarse pixel (a few
hundred thousand points, cheap in numpy); the range image is then resampled on a pixel `factor`
times finer by bilinear interpolation of the depths between four seen neighbours, with fresh
range noise, which gives the requested count without sampling the surface a hundred million
times. Q is turned and moved by a seeded displacement; the truth (Q's file coordinates onto P's)
is written beside the scans. Files go to OUT (default build/dense); nothing is committed.
"""
import argparse
import os
import zlib

import numpy as np

import bench_geometry as g
from synthetic_shapes import SHAPES, make_shape, pixel_for, scan, unit, views

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
NOISE_SHARE = 0.0005      # range noise (standard deviation) as a share of the shape's size
COARSE_POINTS = 150000    # points of the coarse scan the dense one is resampled from


def view_frame(view):
    """The image axes of a view, as scan() takes them."""
    e1 = unit(np.cross(view, [0.3, 0.5, 0.8] if abs(view[2]) < 0.9 else [1.0, 0, 0]))
    return e1, np.cross(view, e1)


def dense_scan(points, normals, view, pixel, factor, noise, rng):
    """The coarse scan along `view` resampled `factor` times finer in each image direction."""
    coarse = scan(points, normals, view, pixel, 0.0, rng)
    e1, e2 = view_frame(view)
    uv = np.column_stack([coarse @ e1, coarse @ e2])
    lo = uv.min(axis=0)
    cell = np.rint((uv - lo) / pixel).astype(np.int64)
    depth = np.full(cell.max(axis=0) + 1, np.nan)
    depth[cell[:, 0], cell[:, 1]] = -(coarse @ view)
    corners = [depth[:-1, :-1], depth[1:, :-1], depth[:-1, 1:], depth[1:, 1:]]
    ii, jj = np.nonzero(np.all([np.isfinite(c) for c in corners], axis=0))
    d00, d10, d01, d11 = (c[ii, jj] for c in corners)
    out = []
    for a in range(factor):
        s = (a + 0.5) / factor
        for b in range(factor):
            t = (b + 0.5) / factor
            d = (1 - s) * (1 - t) * d00 + s * (1 - t) * d10 + (1 - s) * t * d01 + s * t * d11
            u = lo[0] + (ii + s) * pixel
            v = lo[1] + (jj + t) * pixel
            d = d + rng.normal(0, noise, len(d))
            out.append(u[:, None] * e1 + v[:, None] * e2 - d[:, None] * view)
    return np.vstack(out)


def write_ply(path, points):
    """Binary little-endian PLY of float x, y, z."""
    header = ("ply\nformat binary_little_endian 1.0\nelement vertex %d\n"
              "property float x\nproperty float y\nproperty float z\nend_header\n" % len(points))
    with open(path, "wb") as f:
        f.write(header.encode("ascii"))
        f.write(np.ascontiguousarray(points, dtype="<f4").tobytes())


def write_text(path, points, chunk=1000000):
    """One "x y z" line per point, 7 significant digits, written in chunks."""
    with open(path, "w") as f:
        for k in range(0, len(points), chunk):
            np.savetxt(f, points[k:k + chunk], fmt="%.7g")


def make_pair(name, target, angle, seed, folder, text):
    """Writes LABEL-P.ply, LABEL-Q.ply (and .xyz with `text`) and LABEL-truth.txt; returns the
    case as a dict."""
    _, first, swing = SHAPES[name]
    points, normals, size = make_shape(name, COARSE_POINTS)
    v1, v2 = views(first, swing, angle)
    rng = np.random.default_rng([seed, zlib.crc32(f"{name}{angle}{target}".encode())])
    pixel = pixel_for(points, normals, v1, COARSE_POINTS, rng)
    factor = max(1, int(round(np.sqrt(target / COARSE_POINTS))))
    noise = NOISE_SHARE * size
    p = dense_scan(points, normals, v1, pixel, factor, noise, rng)
    q = dense_scan(points, normals, v2, pixel, factor, noise, rng)
    move = g.displacement(rng, q.mean(axis=0), 0.5 * size)
    q = g.transform(move, q)
    label = f"{name}-{angle}-{target // 1000}k"
    case = {"label": label, "shape": name, "size": size, "p_points": len(p),
            "q_points": len(q), "truth": np.linalg.inv(move), "q_centroid": q.mean(axis=0),
            "files": {}}
    for side, cloud in (("P", p), ("Q", q)):
        ply = os.path.join(folder, f"{label}-{side}.ply")
        write_ply(ply, cloud)
        case["files"][("ply", side)] = ply
        if text:
            xyz = os.path.join(folder, f"{label}-{side}.xyz")
            write_text(xyz, cloud)
            case["files"][("xyz", side)] = xyz
    np.savetxt(os.path.join(folder, f"{label}-truth.txt"), case["truth"], fmt="%.17g",
               header=f"true motion of {label}-Q onto {label}-P")
    return case


def arguments():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--points", type=int, default=1000000, help="points a view (default 1e6)")
    ap.add_argument("--shapes", default="blob,bracket", help="shapes (default blob,bracket)")
    ap.add_argument("--angle", type=int, default=40, help="degrees between the views")
    ap.add_argument("--seed", type=int, default=1, help="seed of noise and displacement")
    ap.add_argument("--text", action="store_true", help="also write .xyz text scans")
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "dense"), help="folder")
    return ap.parse_args()


def main():
    args = arguments()
    os.makedirs(args.out, exist_ok=True)
    for name in [s for s in args.shapes.split(",") if s]:
        case = make_pair(name, args.points, args.angle, args.seed, args.out, args.text)
        print(f"{case['label']}: P {case['p_points']} Q {case['q_points']} points in {args.out}")


if __name__ == "__main__":
    main()
