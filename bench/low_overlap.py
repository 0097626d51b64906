#!/usr/bin/python3
"""Registration at low overlap and the verdict on it: kestrel-align against Open3D on scan pairs
that share 8-30 % ("low"), pairs that share nothing ("none") and ordinary pairs ("control").

Usage (after building kestrel-align in BUILD):
    /usr/bin/python3 bench/low_overlap.py --build BUILD [--quick] [--no-open3d] [--out DIR]
        [--kestrel-flags "--any-pose --icp"] [--timeout S] [--dump-evidence]

The cases (low_overlap_cases.py) are written into DIR (default BUILD/lowov) with each Q's true
motion. Each case runs, one at a time, `kestrel-align FLAGS --json --quiet --out --matrix` and,
when `import open3d` works, Open3D's RANSAC on FPFH at 5 mm and 3 mm voxels (scaled with the
shape for synthetic cases) followed by point-to-plane ICP. A motion is right when its rotation
error is under 5 degrees and its error at Q's centroid under 5 mm (2 % of the shape's size for
cases in metres); on a pair that shares nothing every motion is wrong. Every top-level field of
Kestrel's JSON is kept, so a build that prints a verdict and its evidence shows them in the
verdict table and the per-case rows. Writes DIR/report.md, DIR/runs.csv (one row per run) and,
with --dump-evidence, DIR/evidence.jsonl (Kestrel's JSON with the truth-based judgement).
A benchmark, never a test: it prints figures and asserts nothing.
"""
import argparse
import csv
import json
import os
import shlex
import subprocess
import sys
import time
import zlib

import numpy as np

import bench_geometry as g
import bench_open3d
from bench_kestrel import last_json
import low_overlap_cases
import low_overlap_report as report

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SUCCESS_DEGREES = 5.0
DEFAULT_FLAGS = "--any-pose --icp"
OPEN3D_METHODS = {"o3d-ransac-5mm": "5mm", "o3d-ransac-3mm": "3mm"}


def arguments():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"),
                    help="build folder holding tools/kestrel-align (default: build)")
    ap.add_argument("--out", help="folder for cases, runs and the report (default BUILD/lowov)")
    ap.add_argument("--quick", action="store_true", help="a few cases of each section")
    ap.add_argument("--no-open3d", action="store_true", help="skip Open3D even if it imports")
    ap.add_argument("--kestrel-flags", default=DEFAULT_FLAGS,
                    help=f'kestrel-align options before --json (default "{DEFAULT_FLAGS}")')
    ap.add_argument("--timeout", type=float, default=60.0, help="seconds per run (default 60)")
    ap.add_argument("--dump-evidence", action="store_true",
                    help="also write DIR/evidence.jsonl: each Kestrel JSON with its judgement")
    args = ap.parse_args()
    args.align = os.path.join(os.path.abspath(args.build), "tools", "kestrel-align")
    if not os.access(args.align, os.X_OK):
        sys.exit(f"{args.align} not found: build the kestrel-align target first")
    args.out = os.path.abspath(args.out or os.path.join(args.build, "lowov"))
    return args


def say(text):
    print(text, flush=True)


# ---------------------------------------------------------------------------------------------
# Runs


def read_matrix(path):
    try:
        m = np.loadtxt(path)
    except (OSError, ValueError):
        return None
    return m if m.shape == (4, 4) else None


def run_kestrel(args, case, folder):
    """One kestrel-align run: status, exit, wall_s (the whole process), json (every field it
    printed, or {}) and matrix (from the JSON, else from the --matrix file, else None)."""
    stem = os.path.join(folder, os.path.basename(case["q_file"])[:-len("-Q.xyz")])
    tfm, matrix_file, log = stem + ".tfm", stem + ".matrix.txt", stem + ".log"
    for old in (tfm, matrix_file):
        if os.path.exists(old):
            os.remove(old)
    cmd = [args.align, *shlex.split(args.kestrel_flags), "--json", "--quiet", "--out", tfm,
           "--matrix", matrix_file, case["p_file"], case["q_file"]]
    t0 = time.perf_counter()
    try:
        with open(log, "wb") as console:
            done = subprocess.run(cmd, stdout=console, stderr=subprocess.STDOUT, cwd=folder,
                                  timeout=args.timeout)
    except subprocess.TimeoutExpired:
        return {"status": "timeout", "exit": None, "wall_s": args.timeout, "json": {},
                "matrix": None}
    wall = time.perf_counter() - t0
    printed = last_json(log) or {}
    matrix = printed.get("matrix")
    matrix = np.asarray(matrix, float) if matrix is not None else read_matrix(matrix_file)
    status = "ok" if done.returncode == 0 else f"exit {done.returncode}"
    return {"status": status, "exit": done.returncode, "wall_s": wall, "json": printed,
            "matrix": matrix}


def seeded_register(seed, p_file, q_file, voxel):
    """Open3D's RANSAC + ICP with its random generator seeded first (runs in the worker)."""
    import open3d
    open3d.utility.random.seed(seed)
    return bench_open3d.register(p_file, q_file, "ransac", voxel)


def run_open3d(args, worker, case, voxel):
    seed = zlib.crc32(case["name"].encode()) & 0x7FFFFFFF
    value, problem = worker.call(args.timeout, seeded_register, seed, case["p_file"],
                                 case["q_file"], voxel)
    if value is None:
        return {"status": problem, "exit": None, "matrix": None, "json": {},
                "wall_s": args.timeout if problem == "timeout" else None}
    return {"status": "ok", "exit": None, "wall_s": value["total_s"], "json": {},
            "matrix": np.asarray(value["matrix"])}


def judge(case, run):
    """Adds outcome ("right", "wrong" or "none": no motion), angle_deg and gap (the error at
    Q's centroid, in the case's unit) against the truth when there is one, fit: the share of
    Q within the overlap radius of P under the motion, and det: the determinant of its 3 x 3
    part (1 for a rigid motion)."""
    m = run["matrix"]
    run.update(outcome="none", angle_deg=None, gap=None, fit=None, det=None)
    if m is None:
        return run
    run["det"] = float(np.linalg.det(m[:3, :3]))
    if case["truth"] is not None:
        run["angle_deg"], run["gap"] = g.motion_errors(m, case["truth"], case["q_centroid"])
    run["fit"] = g.overlap(case["p"], case["q"], m, case["radius"])
    right = (case["section"] != "none" and run["angle_deg"] is not None
             and run["angle_deg"] < SUCCESS_DEGREES and run["gap"] < case["tolerance"])
    run["outcome"] = "right" if right else "wrong"
    return run


def open3d_available():
    """Whether `import open3d` works, tried in a child so Open3D never loads in this process."""
    return subprocess.run([sys.executable, "-c", "import open3d"], capture_output=True,
                          timeout=120).returncode == 0


# ---------------------------------------------------------------------------------------------
# Records


CASE_FIELDS = ["name", "section", "kind", "unit", "overlap", "radius", "size", "tolerance"]


def case_record(case):
    truth = None if case["truth"] is None else case["truth"].tolist()
    return dict({k: case[k] for k in CASE_FIELDS}, p_points=len(case["p"]),
                q_points=len(case["q"]), p_file=case["p_file"], q_file=case["q_file"],
                truth=truth)


def csv_value(value):
    if isinstance(value, float):
        return f"{value:.6g}"
    if isinstance(value, (dict, list)):
        return json.dumps(value, separators=(",", ":"))
    return "" if value is None else value


def write_csv(path, rows):
    """One line per (case, method); Kestrel's JSON fields as json.NAME, one level of nested
    objects (the evidence) as json.NAME.KEY, deeper values as JSON text."""
    flat = []
    for r in rows:
        line = {k: v for k, v in r.items() if k not in ("json", "matrix")}
        line["matrix"] = None if r["matrix"] is None else np.asarray(r["matrix"]).tolist()
        for key, value in r["json"].items():
            if isinstance(value, dict) and key != "profile":
                line.update({f"json.{key}.{k}": v for k, v in value.items()})
            else:
                line[f"json.{key}"] = value
        flat.append(line)
    columns = []
    for line in flat:
        columns += [k for k in line if k not in columns]
    with open(path, "w", newline="") as f:
        out = csv.DictWriter(f, fieldnames=columns, restval="")
        out.writeheader()
        for line in flat:
            out.writerow({k: csv_value(v) for k, v in line.items()})


def evidence_line(record, run):
    """Kestrel's JSON object with the case and the truth-based judgement, as one JSON line."""
    keep = ["name", "section", "kind", "overlap", "radius", "tolerance", "p_file", "q_file",
            "truth"]
    judged = ["outcome", "angle_deg", "gap", "fit", "det", "status", "exit", "wall_s"]
    return json.dumps(dict({k: record[k] for k in keep}, **{k: run[k] for k in judged},
                           right=run["outcome"] == "right", json=run["json"]))


def run_case(args, worker, methods, case):
    """Every method on one case, judged, by method name."""
    runs = {"kestrel": judge(case, run_kestrel(args, case, os.path.join(args.out, "runs")))}
    for m in methods[1:]:
        voxel = case["voxel"][OPEN3D_METHODS[m]]
        runs[m] = judge(case, run_open3d(args, worker, case, voxel))
    return runs


# ---------------------------------------------------------------------------------------------


def main():
    args = arguments()
    started = time.time()
    load_start = os.getloadavg()
    case_folder = os.path.join(args.out, "cases")
    os.makedirs(case_folder, exist_ok=True)
    os.makedirs(os.path.join(args.out, "runs"), exist_ok=True)
    sources = low_overlap_cases.Sources(os.path.join(ROOT, "examples"))
    recipes = [s for s in low_overlap_cases.recipes(sources) if s["quick"] or not args.quick]
    methods = ["kestrel"]
    worker = None
    if not args.no_open3d and open3d_available():
        methods += list(OPEN3D_METHODS)
        worker = bench_open3d.OpenWorker()
    say(f"{len(recipes)} cases; methods: {', '.join(methods)}; output in {args.out}")
    rows, records = [], []
    evidence = None
    if args.dump_evidence:
        evidence = open(os.path.join(args.out, "evidence.jsonl"), "w")
    try:
        for n, recipe in enumerate(recipes, 1):
            case = low_overlap_cases.make_case(recipe, sources, case_folder)
            record = case_record(case)
            runs = run_case(args, worker, methods, case)
            rows += [dict(record, method=m, **run) for m, run in runs.items()]
            records.append(dict(record, runs=runs))
            if evidence:
                evidence.write(evidence_line(record, runs["kestrel"]) + "\n")
                evidence.flush()
            say(f"[{n}/{len(recipes)}] {record['section']}: {record['name']} "
                f"(overlap {record['overlap']:.3f}): "
                + ", ".join(f"{m} {report.outcome_cell(r)} {report.seconds(r['wall_s'])} s"
                            for m, r in runs.items())
                + report.verdict_note(runs["kestrel"]))
    finally:
        if worker:
            worker.close()
        if evidence:
            evidence.close()
    write_csv(os.path.join(args.out, "runs.csv"), rows)
    setting = {"command": " ".join(shlex.quote(a) for a in sys.argv), "align": args.align,
               "flags": args.kestrel_flags, "timeout": args.timeout, "methods": methods,
               "seconds": time.time() - started, "load": (load_start, os.getloadavg()),
               "cores": os.cpu_count(), "quick": args.quick}
    text = report.full_report(records, setting)
    with open(os.path.join(args.out, "report.md"), "w") as f:
        f.write(text + "\n")
    say("\n" + report.summary(records, setting))
    say(f"report: {os.path.join(args.out, 'report.md')}; runs: "
        f"{os.path.join(args.out, 'runs.csv')}"
        + (f"; evidence: {os.path.join(args.out, 'evidence.jsonl')}" if evidence else ""))


if __name__ == "__main__":
    main()
