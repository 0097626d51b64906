#!/usr/bin/python3
"""Kestrel against Open3D on the example scans: builds the cases, runs every method on every
case one at a time, and writes the report (docs/benchmarks.md with its plots and a CSV).
Run it through bench/run-benchmark.sh, which installs what it needs and builds kestrel-align.
"""
import argparse
import json
import os
import platform
import shlex
import sys
import time

import numpy as np

import bench_cases
import bench_geometry as g
import bench_kestrel
import bench_open3d
import bench_report

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SUCCESS_DEGREES = 5.0
SUCCESS_MM = 5.0
DEFAULT_MODES = ["default=", "nd10=-nd 10", "ransac:no-o@5=--ransac", "anypose:no-o=--any-pose"]
OPEN3D_ALGORITHMS = ["ransac", "fgr"]
OPEN3D_LABEL = {"ransac": "RANSAC", "fgr": "FGR"}

MODE_HELP = """\
A Kestrel mode is NAME[:VARIANTS][@SECONDS]=FLAGS: FLAGS are passed to kestrel-align as they
stand; VARIANTS is "both" (default: with the case's true overlap as -o and without), "o" (with
only) or "no-o" (without only); SECONDS replaces --timeout for this mode (a time cap). Every
variant runs once with --icp and yields two methods: the global motion (timed without the ICP)
and the refined one. Defaults: %s""" % " ".join(shlex.quote(m) for m in DEFAULT_MODES)


def parse_mode(spec):
    head, sep, flags = spec.partition("=")
    if not sep or not head:
        raise argparse.ArgumentTypeError(f"mode {spec!r}: expected NAME=FLAGS")
    head, _, cap = head.partition("@")
    name, _, variants = head.partition(":")
    variants = variants or "both"
    if variants not in ("both", "o", "no-o"):
        raise argparse.ArgumentTypeError(f"mode {spec!r}: variants are both, o or no-o")
    try:
        timeout = float(cap) if cap else None
    except ValueError:
        raise argparse.ArgumentTypeError(f"mode {spec!r}: @{cap} is not a number of seconds")
    given = {"both": [True, False], "o": [True], "no-o": [False]}[variants]
    return {"name": name, "flags": shlex.split(flags), "given": given, "timeout": timeout,
            "spec": spec}


def arguments():
    ap = argparse.ArgumentParser(description=__doc__, epilog=MODE_HELP,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"),
                    help="build folder holding tools/kestrel-align (default: build)")
    ap.add_argument("--scratch", help="folder for cases and run outputs (default: BUILD/bench)")
    ap.add_argument("--report", help="report to write (default: docs/benchmarks.md, or "
                    "SCRATCH/benchmarks.md with --quick so a subset is never committed)")
    ap.add_argument("--kestrel", action="append", type=parse_mode, metavar="MODE",
                    help="a Kestrel mode (repeatable, replaces the defaults; see below)")
    ap.add_argument("--voxels", default="2,3,5", help="Open3D voxel sizes in mm (default 2,3,5)")
    cases = bench_cases.BENCHMARK
    ap.add_argument("--displacements", type=int, default=cases["displacements"],
                    help="seeded displacements of Q per pair (default %(default)s)")
    ap.add_argument("--seed", type=int, default=cases["seed"],
                    help="seed of the displacements (default %(default)s)")
    ap.add_argument("--max-translation", type=float, default=cases["max_translation"],
                    help="largest translation of a displacement, mm (default %(default)g)")
    ap.add_argument("--min-overlap", type=float, default=cases["min_overlap"],
                    help="smallest overlap of a pair to benchmark (default %(default)s)")
    ap.add_argument("--timeout", type=float, default=60.0,
                    help="seconds a run may take before it counts as a failure (default 60)")
    ap.add_argument("--repro-cases", type=int, default=2,
                    help="cases on which every method runs a second time (default 2)")
    ap.add_argument("--profile-cases", type=int, default=1,
                    help="typical cases per Kestrel variant in the profile table (default 1)")
    ap.add_argument("--quick", action="store_true",
                    help="a few minutes: the most and least overlapping pairs, own frame and "
                    "one displacement each, one reproducibility case")
    ap.add_argument("--report-only", action="store_true",
                    help="rewrite the report from SCRATCH/results.json without running")
    args = ap.parse_args()
    args.kestrel = args.kestrel or [parse_mode(m) for m in DEFAULT_MODES]
    args.voxels = [float(v) for v in args.voxels.split(",") if v]
    # Runs start in their case folders: a relative build folder would be looked for there.
    args.build = os.path.abspath(args.build)
    args.scratch = os.path.abspath(args.scratch or os.path.join(args.build, "bench"))
    if args.quick:
        args.displacements = min(args.displacements, 1)
        args.repro_cases = min(args.repro_cases, 1)
    args.report = os.path.abspath(args.report or (
        os.path.join(args.scratch, "benchmarks.md") if args.quick
        else os.path.join(ROOT, "docs", "benchmarks.md")))
    return args


def errors_row(case, matrix):
    if matrix is None:
        return {"rot_err": None, "trans_err": None, "success": False}
    rot, trans = g.motion_errors(np.asarray(matrix), case["truth"], case["q_centroid"])
    return {"rot_err": rot, "trans_err": trans,
            "success": rot < SUCCESS_DEGREES and trans < SUCCESS_MM}


def kestrel_variants(modes):
    """One entry per kestrel-align process to start on a case."""
    return [{"mode": m, "given": given,
             "label": f"Kestrel {m['name']}" + (" -o" if given else "")}
            for m in modes for given in m["given"]]


def run_kestrel(args, align, variant, case, folder, suffix="", extra=()):
    mode = variant["mode"]
    flags = list(mode["flags"]) + list(extra)
    if variant["given"]:
        flags += ["-o", f"{case['overlap']:.2f}"]
    if args.profile_supported:
        flags.append("--profile")
    tfm = os.path.join(folder, variant["label"].replace(" ", "_") + suffix + ".tfm")
    timeout = mode["timeout"] or args.timeout
    out = bench_kestrel.run_align(align, flags, case["p_file"], case["q_file"], tfm, timeout)
    out["tfm"] = tfm if out["status"] == "ok" else None
    out["stop_thr"] = bench_kestrel.stop_threshold(flags)
    return out


def kestrel_rows(case, variant, out):
    common = {"family": "kestrel", "variant": variant["label"], "status": out["status"],
              "message": out["message"], "best_lcp": out.get("best_lcp"),
              "trials": out.get("trials"), "stop_thr": out["stop_thr"]}
    icp_s = out.get("icp_s")
    coarse_time = out["wall_s"] - icp_s if icp_s is not None else out["wall_s"]
    coarse = dict(common, method=variant["label"], icp=False, time_s=coarse_time,
                  matrix=out.get("coarse"), profile=out.get("profile"), wall_s=out["wall_s"])
    if out["status"] == "ok" and out.get("coarse") is None:
        coarse.update(status="failed", message="no coarse matrix in the JSON")
    refined = dict(common, method=variant["label"] + " +ICP", icp=True, time_s=out["wall_s"],
                   matrix=out.get("matrix"))
    return [dict(r, **errors_row(case, r["matrix"])) for r in (coarse, refined)]


def run_open3d(args, worker, algorithm, voxel, case):
    value, problem = worker.call(args.timeout, bench_open3d.register, case["p_file"],
                                 case["q_file"], algorithm, voxel)
    if problem == "timeout":  # counted at the full timeout, like a stopped kestrel-align
        return {"status": "timeout", "message": f"over {args.timeout:g} s",
                "global_s": args.timeout, "total_s": args.timeout}
    if problem:
        return {"status": "failed", "message": problem, "global_s": None, "total_s": None}
    return dict(value, status="ok", message="")


def open3d_rows(case, algorithm, voxel, out):
    label = f"Open3D {OPEN3D_LABEL[algorithm]} {voxel:g} mm"
    common = {"family": "open3d", "variant": label, "status": out["status"],
              "message": out["message"]}
    coarse = dict(common, method=label, icp=False, time_s=out["global_s"],
                  matrix=out.get("coarse"))
    refined = dict(common, method=label + " +ICP", icp=True, time_s=out["total_s"],
                   matrix=out.get("matrix"))
    return [dict(r, **errors_row(case, r["matrix"])) for r in (coarse, refined)]


def case_record(case):
    return {k: (v.tolist() if isinstance(v, np.ndarray) else v) for k, v in case.items()}


def say(text):
    print(text, flush=True)


def describe(row):
    if row["status"] != "ok":
        return f"{row['status']} ({row['message']})"
    return (f"{'ok  ' if row['success'] else 'FAIL'} {row['time_s']:7.2f} s  "
            f"{row['rot_err']:7.2f} deg {row['trans_err']:8.2f} mm")


def prepare_cases(args):
    """Measures every pair's overlap, keeps those the run uses and writes their cases."""
    say("Reading the example scans and measuring the pairs' overlaps ...")
    pairs = bench_cases.scan_pairs(os.path.join(ROOT, "examples"), args.min_overlap)
    kept = [p for p in pairs if p["kept"]]
    if args.quick:
        kept = [kept[0], kept[-1]] if len(kept) > 1 else kept
        names = {p["name"] for p in kept}
        for pair in pairs:
            pair["kept"] = pair["name"] in names
    cases = bench_cases.make_cases(kept, args.scratch, args.displacements, args.seed,
                                   args.max_translation)
    say(f"{len(cases)} cases from {len(kept)} pairs in {args.scratch}/cases")
    return pairs, kept, cases


def check_ground_truth(worker, pairs):
    """Adds to each pair how well its ground truth aligns the scans (see the report)."""
    for pair in pairs:
        check, problem = worker.call(600, bench_open3d.ground_truth_check, pair["p_file"],
                                     pair["q_file"], pair["truth"].tolist(),
                                     bench_cases.OVERLAP_RADIUS)
        if problem:
            say(f"  {pair['name']}: ground truth not checked ({problem})")
            continue
        moved = g.motion_errors(np.asarray(check["icp_from_truth"]), pair["truth"],
                                pair["q_points"].mean(axis=0))
        pair.update(plane_residual_mm=check["plane_residual_mm"], icp_moves_deg=moved[0],
                    icp_moves_mm=moved[1])
        say(f"  {pair['name']}: overlap {pair['overlap']:.3f}, truth residual "
            f"{pair['plane_residual_mm']:.3f} mm, ICP from the truth moves {moved[0]:.3f} deg "
            f"{moved[1]:.3f} mm{'' if pair['kept'] else ' (not benchmarked)'}")


def run_case(args, align, worker, case, twice):
    """Every method on one case, one at a time; with `twice`, each a second time for the
    reproducibility table. Returns the rows and the reproducibility entries."""
    folder = os.path.join(args.scratch, "runs", case["name"].replace(" ", "-"))
    os.makedirs(folder, exist_ok=True)
    base = {"case": case["name"], "pair": case["pair"], "overlap": case["overlap"],
            "displaced": case["displaced"]}
    rows, repro = [], []

    def keep(new_rows):
        for r in new_rows:
            rows.append(dict(base, **r))
            say(f"    {r['method']:<28} {describe(r)}")

    for variant in kestrel_variants(args.kestrel):
        out = run_kestrel(args, align, variant, case, folder)
        keep(kestrel_rows(case, variant, out))
        if twice:
            # The second run on one thread: the same matrix shows that the timing of the
            # threads does not enter the result.
            one = ["--threads", "1"] if args.threads_supported else []
            again = run_kestrel(args, align, variant, case, folder, ".again", one)
            repro.append(same_kestrel(variant["label"], case, out, again))
    for algorithm in OPEN3D_ALGORITHMS:
        for voxel in args.voxels:
            out = run_open3d(args, worker, algorithm, voxel, case)
            keep(open3d_rows(case, algorithm, voxel, out))
            if twice:
                again = run_open3d(args, worker, algorithm, voxel, case)
                repro.append(same_open3d(rows[-1]["variant"], case, out, again))
    return rows, repro


def run_all(args):
    align = os.path.join(args.build, "tools", "kestrel-align")
    if not os.access(align, os.X_OK):
        sys.exit(f"{align} not found: build Kestrel first (bench/run-benchmark.sh does).")
    args.threads_supported = bench_kestrel.supports(align, "--threads")
    args.profile_supported = bench_kestrel.supports(align, "--profile")
    started = time.time()
    load_start = os.getloadavg()
    pairs, kept, cases = prepare_cases(args)
    worker = bench_open3d.OpenWorker()
    versions, problem = worker.call(600, bench_open3d.versions)
    if problem:
        sys.exit(f"Open3D cannot be used here ({problem}).")
    check_ground_truth(worker, pairs)

    per_case = len(kestrel_variants(args.kestrel)) + len(OPEN3D_ALGORITHMS) * len(args.voxels)
    repro_names = {c["name"] for c in pick_repro_cases(cases, kept, args.repro_cases)}
    rows, repro = [], []
    for n, case in enumerate(cases, 1):
        say(f"[{n}/{len(cases)}] {case['name']} (overlap {case['overlap']:.2f}), "
            f"{per_case} runs")
        new_rows, new_repro = run_case(args, align, worker, case, case["name"] in repro_names)
        rows += new_rows
        repro += new_repro
        save(args, pairs, cases, rows, repro, None)
    worker.close()
    run = {"started": time.strftime("%Y-%m-%d %H:%M:%S %Z", time.localtime(started)),
           "duration_s": time.time() - started, "load_start": load_start,
           "load_end": os.getloadavg(), "versions": versions, "quick": args.quick,
           "command": os.environ.get("KESTREL_BENCH_COMMAND") or shlex.join(sys.argv),
           "modes": [m["spec"] for m in args.kestrel], "voxels": args.voxels,
           "timeout": args.timeout, "profile_supported": args.profile_supported,
           "align": align, "python": platform.python_version(),
           "profile_cases": args.profile_cases}
    run["machine"] = bench_report.machine_and_versions(args.build, versions)
    save(args, pairs, cases, rows, repro, run)


def pick_repro_cases(cases, pairs, count):
    """The first displacement of the `count` most overlapping pairs (own frame if none)."""
    chosen = []
    for pair in pairs[:count]:
        mine = [c for c in cases if c["pair"] == pair["name"]]
        displaced = [c for c in mine if c["displaced"]]
        chosen.append((displaced or mine)[0])
    return chosen


def written_matrix(tfm):
    """Lines 5 to 8 of a results file: the matrix, without the header's run time."""
    with open(tfm) as f:
        return f.read().splitlines()[4:8]


def same_kestrel(label, case, first, again):
    """Whether two runs wrote the same matrices (None where a run wrote nothing)."""
    both = first["status"] == "ok" and again["status"] == "ok"
    same = lambda a, b: (a == b) if both else None
    return {"method": label, "case": case["name"], "family": "kestrel",
            "statuses": [first["status"], again["status"]],
            "written": same(both and written_matrix(first["tfm"]),
                            both and written_matrix(again["tfm"])),
            "identical": same(first.get("matrix"), again.get("matrix")),
            "coarse_identical": same(first.get("coarse"), again.get("coarse"))}


def same_open3d(label, case, first, again):
    both = first["status"] == "ok" and again["status"] == "ok"
    same = lambda a, b: (a == b) if both else None
    return {"method": label, "case": case["name"], "family": "open3d",
            "statuses": [first["status"], again["status"]], "written": None,
            "identical": same(first.get("matrix"), again.get("matrix")),
            "coarse_identical": same(first.get("coarse"), again.get("coarse"))}


def save(args, pairs, cases, rows, repro, run):
    """Keeps everything measured in SCRATCH/results.json (after every case, so an interrupted
    run loses little), and writes the report once the run is complete."""
    data = {"pairs": [case_record({k: v for k, v in p.items() if k != "q_points"})
                      for p in pairs],
            "cases": [case_record(c) for c in cases], "rows": rows, "repro": repro, "run": run}
    path = os.path.join(args.scratch, "results.json")
    with open(path + ".tmp", "w") as f:
        json.dump(data, f)
    os.replace(path + ".tmp", path)
    if run is not None:
        bench_report.write_report(data, args.report)
        say(f"Report: {args.report} ({run['duration_s'] / 60:.1f} min)")


def main():
    args = arguments()
    if args.report_only:
        with open(os.path.join(args.scratch, "results.json")) as f:
            data = json.load(f)
        if data["run"] is None:
            sys.exit("results.json holds an unfinished run: nothing to report.")
        bench_report.write_report(data, args.report)
        say(f"Report: {args.report}")
        return
    run_all(args)


if __name__ == "__main__":
    main()
