#!/usr/bin/python3
"""Checks that two builds of kestrel-align give the same results, bit for bit: on the benchmark's
cases and on more displaced cases from another seed, each build runs the any-pose mode without
and with ICP (and the default mode on a few cases), and every matrix, score and trial count
they print or write must match exactly. Matrices are printed with %.17g, so equal text is equal
bits. Prints one line per case and a summary; the exit status is 0 only when all are the same.

usage: bench/same_results.py --before OLD/kestrel-align --after NEW/kestrel-align [--quick]
"""
import argparse
import concurrent.futures
import json
import os
import subprocess
import sys
import time

import bench_cases

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

MODES = {"any-pose": ["--any-pose"], "any-pose+icp": ["--any-pose", "--icp"], "default": []}
# What a run prints that must not change; the times may.
JSON_FIELDS = ["matrix", "coarse_matrix", "refined_matrix", "best_lcp", "trials", "stopped",
               "stop_reason", "icp_error", "error", "p_points", "q_points"]


def arguments():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--before", required=True, help="the kestrel-align to compare against")
    ap.add_argument("--after", required=True, help="the kestrel-align under test")
    ap.add_argument("--scratch", default=os.path.join(ROOT, "build", "same-results"),
                    help="folder for the cases and the runs' outputs (default build/same-results)")
    ap.add_argument("--seed", type=int, default=2,
                    help="seed of the second set of displacements (default 2; the benchmark's "
                    f"is {bench_cases.BENCHMARK['seed']})")
    ap.add_argument("--displacements", type=int, default=6,
                    help="displacements per pair in the second set (default 6)")
    ap.add_argument("--timeout", type=float, default=600,
                    help="seconds a run may take (default 600)")
    ap.add_argument("--jobs", type=int, default=1, help="cases compared at once (default 1)")
    ap.add_argument("--quick", action="store_true", help="a few cases only")
    args = ap.parse_args()
    for which in ("before", "after"):
        path = os.path.abspath(getattr(args, which))
        if not os.access(path, os.X_OK):
            sys.exit(f"--{which} {path}: not an executable")
        setattr(args, which, path)
    args.scratch = os.path.abspath(args.scratch)
    return args


def all_cases(args):
    """The benchmark's cases, then the second set's displaced ones, each with the modes it runs:
    the default mode only in the scans' own frames and on the first displacement."""
    b = bench_cases.BENCHMARK
    pairs = [p for p in bench_cases.scan_pairs(os.path.join(ROOT, "examples"), b["min_overlap"])
             if p["kept"]]
    first = bench_cases.make_cases(pairs, os.path.join(args.scratch, "benchmark"),
                                   b["displacements"], b["seed"], b["max_translation"])
    second = bench_cases.make_cases(pairs, os.path.join(args.scratch, f"seed{args.seed}"),
                                    args.displacements, args.seed, b["max_translation"],
                                    own_frame=False)
    if args.quick:
        first, second = first[:2], second[:1]
    cases = []
    for label, group in (("benchmark", first), (f"seed {args.seed}", second)):
        for case in group:
            with_default = label == "benchmark" and case["name"].endswith((" own", " d1"))
            modes = [m for m in MODES if m != "default" or with_default]
            cases.append(dict(case, set=label, modes=modes))
    return cases


def last_json(text):
    """The last JSON line of the output, with every number kept as the text printed."""
    for line in reversed(text.splitlines()):
        if line.startswith("{"):
            try:
                return json.loads(line, parse_float=str, parse_int=str)
            except ValueError:
                return None
    return None


def read_bytes(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def results_matrix(tfm):
    """Lines 5 to 8 of a results file: its matrix, without the header's run time."""
    written = read_bytes(tfm)
    return written.splitlines()[4:8] if written is not None else None


def run(align, mode, case, folder, tag):
    """One run of `align`: its exit status, its JSON's fields, the bytes of its --matrix file and
    the matrix lines of its results file (--out)."""
    matrix = os.path.join(folder, f"{mode}.{tag}.matrix.txt")
    tfm = os.path.join(folder, f"{mode}.{tag}.tfm")
    for old in (matrix, tfm):
        if os.path.exists(old):
            os.remove(old)
    cmd = [align, *MODES[mode], "--json", "--matrix", matrix, "--quiet", "--out", tfm,
           case["p_file"], case["q_file"]]
    try:
        done = subprocess.run(cmd, capture_output=True, text=True, cwd=folder,
                              timeout=case["timeout"])
    except subprocess.TimeoutExpired:
        return {"timeout": True}
    with open(os.path.join(folder, f"{mode}.{tag}.log"), "w") as log:
        log.write(done.stdout + done.stderr)
    result = last_json(done.stdout)
    return {"exit": done.returncode, "printed": result is not None,
            "json": {k: (result or {}).get(k) for k in JSON_FIELDS},
            "matrix file": read_bytes(matrix), "results file": results_matrix(tfm)}


def differences(before, after):
    if before.get("timeout") or after.get("timeout"):
        return ["timed out"]
    if not (before["printed"] and after["printed"]):
        return ["no JSON printed (see the logs)"]
    found = [] if before["exit"] == after["exit"] else ["exit status"]
    found += [k for k in JSON_FIELDS if before["json"][k] != after["json"][k]]
    found += [k for k in ("matrix file", "results file") if before[k] != after[k]]
    return found


def compare_case(args, case):
    folder = os.path.join(args.scratch, "runs", case["set"].replace(" ", ""),
                          case["name"].replace(" ", "-"))
    os.makedirs(folder, exist_ok=True)
    case = dict(case, timeout=args.timeout)
    found = []
    for mode in case["modes"]:
        changed = differences(run(args.before, mode, case, folder, "before"),
                              run(args.after, mode, case, folder, "after"))
        if changed:
            found.append(f"{mode}: {', '.join(changed)}")
    return case, found


def main():
    args = arguments()
    started = time.time()
    cases = all_cases(args)
    runs = sum(len(c["modes"]) for c in cases)
    print(f"{len(cases)} cases, {runs} runs of each build; outputs in {args.scratch}/runs",
          flush=True)
    different = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        compared = pool.map(lambda c: compare_case(args, c), cases)
        for n, (case, found) in enumerate(compared, 1):
            different += bool(found)
            verdict = "DIFFERENT: " + "; ".join(found) if found else "same"
            print(f"[{n}/{len(cases)}] {case['set']}: {case['name']} ({', '.join(case['modes'])})"
                  f": {verdict}", flush=True)
    print(f"{len(cases) - different} of {len(cases)} cases the same, {different} different "
          f"({runs} runs of each build, {time.time() - started:.0f} s)")
    sys.exit(1 if different else 0)


if __name__ == "__main__":
    main()
