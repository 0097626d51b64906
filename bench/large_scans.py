#!/usr/bin/python3
"""Large scans: kestrel-align --any-pose --icp against Open3D as its users treat large scans
(FPFH RANSAC at 5 mm, point-to-plane ICP on 1 mm-thinned clouds), on dense simulated pairs of
a million points a view or more (dense_scans.py), in binary PLY and in text.

Usage (after building kestrel-align in BUILD):
    /usr/bin/python3 bench/large_scans.py [--build build] [--points 1000000]
        [--shapes blob,bracket,elongated,plate] [--formats ply,xyz] [--no-open3d] [--out FOLDER]
        [--report FILE]

Every run is a fresh process; the whole-process wall time (reading included) and, for Kestrel,
the peak resident memory per input point and the stage profile are reported. A motion is right
when its rotation error is under 5 degrees and its error at Q's centroid under 2 % of the
shape's size. A benchmark, never a test.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

import numpy as np

import bench_geometry as g
import bench_kestrel
import bench_open3d
from dense_scans import make_pair

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SUCCESS_DEGREES = 5.0
SUCCESS_SHARE = 0.02


def run_kestrel(align, p_file, q_file, folder, timeout, extra=()):
    """Runs the aligner in a child whose peak memory the kernel reports; returns its JSON fields
    with wall_s and peak_bytes, or a status."""
    out_tfm = os.path.join(folder, os.path.basename(p_file) + ".tfm")
    cmd = [align, "--any-pose", "--icp", "--json", "--profile", "--quiet", *extra,
           "--out", out_tfm, p_file, q_file]
    t0 = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=folder)
    try:
        output, _ = child.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        return {"status": "timeout", "wall_s": timeout}
    wall = time.perf_counter() - t0
    # The child is reaped by communicate(); RUSAGE_CHILDREN holds the largest peak so far, so
    # each run goes through a short-lived helper process instead.
    result = None
    for line in output.decode("utf-8", "replace").replace("\r", "\n").splitlines():
        if line.startswith("{"):
            try:
                result = json.loads(line)
            except ValueError:
                pass
    if result is None:
        return {"status": "failed", "wall_s": wall}
    result.update(status="ok", wall_s=wall)
    return result


def measured_kestrel(align, p_file, q_file, folder, timeout, extra=()):
    """run_kestrel in a helper process, so that its RUSAGE_CHILDREN peak is this run's alone."""
    code = ("import json, resource, sys; sys.path.insert(0, %r); import large_scans as l; "
            "r = l.run_kestrel(*json.loads(sys.argv[1])); "
            "r['peak_bytes'] = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024; "
            "print(json.dumps(r))" % HERE)
    args = json.dumps([align, p_file, q_file, folder, timeout, list(extra)])
    done = subprocess.run([sys.executable, "-c", code, args], capture_output=True, text=True)
    try:
        return json.loads(done.stdout.strip().splitlines()[-1])
    except (ValueError, IndexError):
        return {"status": "failed", "wall_s": None}


def judge(case, matrix):
    if matrix is None:
        return False, None, None
    angle, gap = g.motion_errors(np.asarray(matrix), case["truth"], case["q_centroid"])
    return angle < SUCCESS_DEGREES and gap < SUCCESS_SHARE * case["size"], angle, gap


def cell(verdict):
    ok, angle, gap = verdict
    if angle is None:
        return "none"
    return f"{'ok' if ok else 'FAIL'} {angle:.2f}° {gap:.2f}"


def arguments():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", help="folder for scans and runs (default BUILD/large)")
    ap.add_argument("--report", help="report to write (default OUT/report.md)")
    ap.add_argument("--points", type=int, default=1000000, help="points a view (default 1e6)")
    ap.add_argument("--shapes", default="blob,bracket,elongated,plate")
    ap.add_argument("--angle", type=int, default=40, help="degrees between the views")
    ap.add_argument("--formats", default="ply,xyz", help="ply (binary), xyz (text) or both")
    ap.add_argument("--timeout", type=float, default=600.0)
    ap.add_argument("--no-open3d", action="store_true")
    ap.add_argument("--threads-check", action="store_true",
                    help="also run Kestrel with --threads 1 and compare the matrices")
    return ap.parse_args()


def main():
    args = arguments()
    # Absolute: each run's working folder is the scans' folder.
    align = os.path.join(os.path.abspath(args.build), "tools", "kestrel-align")
    if not os.path.exists(align):
        sys.exit(f"{align} not found: build the kestrel-align target first")
    out = os.path.abspath(args.out or os.path.join(args.build, "large"))
    os.makedirs(out, exist_ok=True)
    formats = [f for f in args.formats.split(",") if f]
    use_open3d = not args.no_open3d and subprocess.run(
        [sys.executable, "-c", "import open3d"], capture_output=True).returncode == 0
    worker = bench_open3d.OpenWorker() if use_open3d else None
    rows, k_times, o_times, bytes_per_point = [], [], [], []
    try:
        for shape in [s for s in args.shapes.split(",") if s]:
            case = make_pair(shape, args.points, args.angle, 1, out, "xyz" in formats)
            n = case["p_points"] + case["q_points"]
            for fmt in formats:
                p_file, q_file = case["files"][(fmt, "P")], case["files"][(fmt, "Q")]
                k = measured_kestrel(align, p_file, q_file, out, args.timeout)
                kv = judge(case, k.get("matrix"))
                row = {"case": f"{case['label']} {fmt}", "points": n, "kestrel": k, "k_ok": kv}
                if k.get("wall_s") is not None:
                    k_times.append(k["wall_s"])
                if k.get("peak_bytes"):
                    bytes_per_point.append(k["peak_bytes"] / n)
                if args.threads_check:
                    one = measured_kestrel(align, p_file, q_file, out, args.timeout,
                                           ["--threads", "1"])
                    row["same_1_2"] = one.get("matrix") == k.get("matrix")
                if worker:
                    value, problem = worker.call(args.timeout, bench_open3d.register_large,
                                                 p_file, q_file)
                    row["open3d"] = value or {"status": problem}
                    row["o_ok"] = judge(case, value and value.get("matrix"))
                    if value:
                        o_times.append(value["total_s"])
                rows.append(row)
                print(row["case"], f"kestrel {k.get('wall_s')} s {cell(kv)}",
                      f"open3d {row.get('open3d', {}).get('total_s')} s", flush=True)
    finally:
        if worker:
            worker.close()
    report = write_report(args, rows, k_times, o_times, bytes_per_point, use_open3d)
    path = args.report or os.path.join(out, "report.md")
    with open(path, "w") as f:
        f.write(report)
    print("\n" + report + f"\nReport: {path}")


def write_report(args, rows, k_times, o_times, bytes_per_point, use_open3d):
    head = ["case", "points (P+Q)", "kestrel s", "peak B/point", "kestrel motion",
            "read MB/s", "open3d s", "open3d motion"]
    lines = ["# Large scans", "",
             f"`kestrel-align --any-pose --icp` against "
             f"{'Open3D (FPFH RANSAC at 5 mm, ICP on 1 mm-thinned clouds)' if use_open3d else 'nothing (Open3D not importable)'}"
             f" on dense simulated pairs of about {args.points} points a view, {args.angle}° apart."
             " Whole-process wall times, reading included; a motion cell reads verdict, rotation"
             " error and error at Q's centroid (mm).", "",
             "| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for r in rows:
        k, o = r["kestrel"], r.get("open3d", {})
        prof = k.get("profile") or {}
        peak = k.get("peak_bytes")
        cells = [r["case"], str(r["points"]), f"{k.get('wall_s') or 0:.2f}",
                 f"{peak / r['points']:.0f}" if peak else "", cell(r["k_ok"]),
                 f"{prof.get('read_mb_per_s', 0):.0f}",
                 f"{o.get('total_s'):.2f}" if o.get("total_s") else o.get("status", ""),
                 cell(r["o_ok"]) if "o_ok" in r else ""]
        lines.append("| " + " | ".join(cells) + " |")
    lines.append("")
    if k_times:
        lines.append(f"Median Kestrel time {statistics.median(k_times):.2f} s" +
                     (f", Open3D {statistics.median(o_times):.2f} s" if o_times else "") +
                     (f"; peak memory at most {max(bytes_per_point):.0f} bytes a point"
                      if bytes_per_point else "") + ".")
    if any("same_1_2" in r for r in rows):
        same = all(r.get("same_1_2") for r in rows)
        lines.append(f"Matrices from --threads 1 and 2 {'the same' if same else 'DIFFER'}.")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
