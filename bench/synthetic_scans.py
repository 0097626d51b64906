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
The shapes and the scanner live in synthetic_shapes.py. A benchmark, never a test.
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
from synthetic_shapes import SHAPES, make_shape, pixel_for, scan, views

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SUCCESS_DEGREES = 5.0
SUCCESS_SHARE = 0.02      # of the shape's size, at Q's centroid
NOISE_SHARE = 0.002       # range noise (standard deviation) as a share of the shape's size
UNIT_SCALE = {"mm": 1.0, "m": 0.001}


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
                key = zlib.crc32(f"{name}{angle}{target}".encode())
                rng = np.random.default_rng([args.seed, key])
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
    if ok:
        return f"ok {angle:.1f}° {share:.1f}%"
    return f"FAIL {angle:.0f}° {share:.0f}% fit {fit:.2f}"


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
        lcp = "" if k["best_lcp"] is None else f"{k['best_lcp']:.3f}"
        row += [seconds(k.get("run_s")), str(k["trials"] or ""), lcp,
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
    """Whether `import open3d` works, tried in a child so Open3D never loads in this process."""
    import subprocess
    return subprocess.run([sys.executable, "-c", "import open3d"], capture_output=True,
                          timeout=120).returncode == 0


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
