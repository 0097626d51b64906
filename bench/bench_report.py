"""Turns the benchmark's measurements into docs/benchmarks.md, its two plots and a CSV.
Everything in the report is computed here from the rows; nothing is typed in by hand.
"""
import os
import subprocess

import numpy as np

from bench_plots import plots, write_csv
from bench_rows import method_order

STAGES = ["base_selection", "pair_extraction", "quad_search", "motion_estimation", "lcp_scoring"]
COUNTS = ["trials", "pairs_d1", "pairs_d2", "quads", "candidates", "lcp_early_exits"]
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _fmt(value, digits=2):
    if value is None or (isinstance(value, float) and not np.isfinite(value)):
        return "–"
    if isinstance(value, (int, np.integer)):
        return str(value)
    return f"{value:.{digits}f}"


def _median(values):
    values = [v for v in values if v is not None]
    return float(np.median(values)) if values else None


def _table(header, rows, align=None):
    align = align or ["l"] + ["r"] * (len(header) - 1)
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join(":---" if a == "l" else "---:" for a in align) + "|"]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def summarise(rows):
    """Per method, in the order run: counts, success rate, time and error medians, and the
    ratio of its median time to that of the best Open3D method (most successes, then fastest)."""
    out = []
    for m in method_order(rows):
        mine = [r for r in rows if r["method"] == m]
        times = [r["time_s"] for r in mine if r["time_s"] is not None]
        out.append({"method": m, "family": mine[0]["family"], "n": len(mine),
                    "success": sum(r["success"] for r in mine),
                    "timeouts": sum(r["status"] == "timeout" for r in mine),
                    "failed_runs": sum(r["status"] == "failed" for r in mine),
                    "median_s": _median(times),
                    "p90_s": float(np.percentile(times, 90)) if times else None,
                    "rot": _median([r["rot_err"] for r in mine]),
                    "trans": _median([r["trans_err"] for r in mine]),
                    "lcp": _median([r.get("best_lcp") for r in mine])})
    peers = [s for s in out if s["family"] == "open3d" and s["median_s"]]
    best = max(peers, key=lambda s: (s["success"] / s["n"], -s["median_s"]), default=None)
    for s in out:
        s["ratio"] = s["median_s"] / best["median_s"] if best and s["median_s"] else None
    return out, best


def machine_and_versions(build, versions):
    """What the report says about where and with what it ran."""
    def first_line(cmd):
        try:
            done = subprocess.run(cmd, capture_output=True, text=True, cwd=ROOT, timeout=30)
            return done.stdout.strip().splitlines()[0] if done.stdout.strip() else ""
        except (OSError, subprocess.SubprocessError):
            return ""

    cpu = ""
    with open("/proc/cpuinfo") as f:
        cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    with open("/proc/meminfo") as f:
        mem_kb = int(next(l.split()[1] for l in f if l.startswith("MemTotal")))
    debian = ""
    if os.path.exists("/etc/debian_version"):
        debian = open("/etc/debian_version").read().strip()
    compiler = ""
    cache = os.path.join(build, "CMakeCache.txt")
    if os.path.exists(cache):
        for line in open(cache):
            if line.startswith("CMAKE_CXX_COMPILER:"):
                compiler = first_line([line.split("=", 1)[1].strip(), "--version"])
    commit = first_line(["git", "rev-parse", "--short", "HEAD"])
    dirty = first_line(["git", "status", "--porcelain", "--untracked-files=no", "--", ".",
                        ":(exclude)docs"])  # the report itself may be a change
    return {"cpu": cpu, "cores": os.cpu_count(), "memory_gib": mem_kb / 2**20,
            "kernel": os.uname().release, "debian": debian, "compiler": compiler,
            "kestrel": commit + (" (with uncommitted changes)" if dirty else ""), **versions}


def _run_section(run, machine):
    load = lambda l: ", ".join(f"{v:.2f}" for v in l)
    return "\n".join([
        "## Run", "",
        f"- Command: `{run['command']}`",
        f"- Started {run['started']}, took {run['duration_s'] / 60:.1f} min; methods ran one at "
        f"a time. Load average (1, 5, 15 min) at the start {load(run['load_start'])}, at the "
        f"end {load(run['load_end'])}: times taken while the load is above about 1 are "
        "inflated by other work on the machine.",
        f"- Machine: {machine['cpu']}, {machine['cores']} cores, "
        f"{machine['memory_gib']:.0f} GiB, Linux {machine['kernel']}, Debian "
        f"{machine['debian']}.",
        f"- Kestrel {machine['kestrel']}, built with {machine['compiler']} "
        f"(`{os.path.relpath(run['align'], ROOT)}`). Open3D {machine['open3d']}, numpy "
        f"{machine['numpy']}, matplotlib {machine['matplotlib']}, Python {run['python']}.",
        f"- Kestrel modes: {', '.join('`' + m + '`' for m in run['modes'])}; Open3D voxel "
        f"sizes {', '.join(f'{v:g}' for v in run['voxels'])} mm; timeout "
        f"{run['timeout']:g} s a run. kestrel-align runs on one core; Open3D's calls use "
        "every core (OpenMP).", ""])


def _cases_section(data):
    pairs, cases = data["pairs"], data["cases"]
    rows = []
    for p in pairs:
        n = sum(c["pair"] == p["name"] for c in cases)
        rows.append([p["name"], f"{p['overlap'] * 100:.1f} %", n if p["kept"] else "not used",
                     _fmt(p.get("plane_residual_mm"), 3),
                     f"{_fmt(p.get('icp_moves_deg'), 3)} / {_fmt(p.get('icp_moves_mm'), 3)}"])
    return "\n".join([
        "## Cases", "",
        "Every pair of the example scans (P is the scan whose name sorts first) whose overlap "
        "is at least the floor, in the scans' own frames (`own`) and under seeded random "
        "displacements of Q (`d1`...: a rotation drawn uniformly over all rotations about Q's "
        "centroid and a translation of up to 50 mm). Overlap is the share of Q's points within "
        "1 mm of P under the ground-truth motion. The last two columns check the ground truth "
        "itself: the median point-to-plane distance of those points to P, and how far an "
        "Open3D point-to-plane ICP (1 mm correspondences) started from the truth moves it "
        "(degrees / mm at Q's centroid).", "",
        _table(["pair", "overlap Q→P", "cases", "truth residual (mm)", "ICP from truth moves"],
               rows), ""])


def _summary_section(summary, best):
    rows = [[s["method"], f"{s['success']}/{s['n']} ({s['success'] / s['n'] * 100:.0f} %)",
             _fmt(s["median_s"]), _fmt(s["p90_s"]), _fmt(s["ratio"]),
             _fmt(s["rot"]), _fmt(s["trans"]), _fmt(s["lcp"], 3),
             s["timeouts"] + s["failed_runs"] or ""]
            for s in summary]
    best_name = best["method"] if best else "none"
    return "\n".join([
        "## Summary", "",
        "Success: rotation error under 5° and translation error, measured at Q's centroid, "
        "under 5 mm. Times are wall times: the whole kestrel-align process, reading the files "
        "included; for Open3D the call, reading the files included. A run stopped at its "
        "timeout or cap counts as a failure at that time. Each Kestrel row without \"+ICP\" "
        "comes from the same process as its \"+ICP\" row: its matrix is the global motion "
        "that kestrel-align reports before the ICP, its time the process's less the ICP's. "
        "A \"-o\" in a Kestrel method's name means it was given the pair's overlap, rounded "
        "to two decimals, as its overlap estimate. "
        "Open3D's global-only rows likewise come from the same call as their \"+ICP\" rows. "
        f"The time ratio compares median times with the best Open3D method ({best_name}: most "
        "successes, then fastest).", "",
        _table(["method", "success", "median s", "90th pct s", "time ratio", "median rot °",
                "median trans mm", "median LCP", "timeouts/errors"], rows), ""])


def _breakdown_section(rows, data):
    kept = [p for p in data["pairs"] if p["kept"]]
    per_pair = []
    for m in method_order(rows):
        mine = [r for r in rows if r["method"] == m]
        cells = []
        for p in kept:
            theirs = [r for r in mine if r["pair"] == p["name"]]
            cells.append(f"{sum(r['success'] for r in theirs)}/{len(theirs)}")
        own = [r for r in mine if not r["displaced"]]
        moved = [r for r in mine if r["displaced"]]
        cells += [f"{sum(r['success'] for r in own)}/{len(own)}",
                  f"{sum(r['success'] for r in moved)}/{len(moved)}"]
        per_pair.append([m] + cells)
    header = ["method"] + [f"{p['name']} ({p['overlap'] * 100:.0f} %)" for p in kept] + [
        "own frames", "displaced"]
    return "\n".join(["## Successes per pair and per frame", "",
                      _table(header, per_pair), ""])


def _kestrel_failures_section(rows):
    out = []
    for m in method_order(rows):
        mine = [r for r in rows if r["method"] == m]
        if mine[0]["family"] != "kestrel" or mine[0]["icp"]:
            continue
        failed = [r for r in mine if not r["success"]]
        ended = [r for r in failed if r["status"] == "ok"]
        early = [r for r in ended if r["best_lcp"] is not None and r["best_lcp"] > r["stop_thr"]]
        out.append([m, f"{len(failed)}/{len(mine)}",
                    sum(r["status"] == "timeout" for r in failed),
                    sum(r["status"] == "failed" for r in failed), len(early),
                    len(ended) - len(early),
                    _fmt(_median([r["best_lcp"] for r in mine if r["success"]]), 3),
                    _fmt(_median([r["best_lcp"] for r in ended]), 3),
                    _fmt(_median([r["trials"] for r in mine if r["status"] == "ok"]), 0)])
    return "\n".join([
        "## Why Kestrel runs fail", "",
        "A run ends when a motion's LCP exceeds the stopping threshold (the overlap estimate, "
        "`-o`, 0.55 when not given) or when its trials are used up. A failed run that ended "
        "above the threshold accepted a wrong motion; one that ended at or below it used up "
        "its trials without finding a good one.", "",
        _table(["method", "failures", "timeouts", "errors", "stopped on a wrong motion",
                "used up its trials", "median LCP, successes", "median LCP, failures that "
                "ended", "median trials"], out), ""])


def _profile_section(rows, data, per_variant):
    profiled = [r for r in rows if r.get("profile")]
    if not profiled:
        return "\n".join([
            "## Stage profile", "",
            "This build of kestrel-align prints no stage profile (it has no `--profile` "
            "option), so there is no profile table.", ""])
    stages = list(STAGES) + sorted({k for r in profiled for k in r["profile"].get(
        "stages_ms", {})} - set(STAGES))
    counts = list(COUNTS) + sorted({k for r in profiled for k in r["profile"].get(
        "counts", {})} - set(COUNTS))
    table = []
    for variant in method_order(profiled):
        mine = sorted((r for r in profiled if r["method"] == variant), key=lambda r: r["wall_s"])
        middle = len(mine) // 2
        start = max(0, middle - per_variant // 2)
        for r in mine[start:start + per_variant]:
            st, ct = r["profile"].get("stages_ms", {}), r["profile"].get("counts", {})
            table.append([variant, r["case"], _fmt(r["wall_s"])] +
                         [_fmt(st.get(k), 0) for k in stages] + [_fmt(ct.get(k), 0)
                                                                 for k in counts])
    totals = {k: sum(r["profile"].get("stages_ms", {}).get(k) or 0 for r in profiled)
              for k in stages}
    whole = sum(totals.values()) or 1
    top = max(totals, key=totals.get)
    return "\n".join([
        "## Stage profile", "",
        f"Per Kestrel variant, the run{'s' if per_variant > 1 else ''} of median wall time. "
        f"Over all {len(profiled)} profiled runs, {top.replace('_', ' ')} takes the most "
        f"time: {totals[top] / whole * 100:.0f} % of the time spent in the profiled stages.", "",
        _table(["method", "case", "wall s"] + [f"{k.replace('_', ' ')} ms" for k in stages] +
               [k.replace("_", " ") for k in counts], table,
               ["l", "l"] + ["r"] * (1 + len(stages) + len(counts))), ""])


def _repro_section(repro):
    if not repro:
        return ""
    yes = lambda v: "–" if v is None else ("yes" if v else "no")
    order = method_order(repro)
    table = [[r["method"], r["case"], " / ".join(r["statuses"]), yes(r["written"]),
              yes(r["identical"]), yes(r["coarse_identical"])]
             for r in sorted(repro, key=lambda r: order.index(r["method"]))]
    return "\n".join([
        "## Reproducibility", "",
        "Each Kestrel variant and each Open3D method ran a second time on these cases; "
        "kestrel-align's second run had one thread (`--threads 1`) where the first had its "
        "default two. A "
        "matrix is identical when it is the same in both runs: kestrel-align's results file "
        "(its matrix lines; the header holds the run time), and the refined and global "
        "matrices at full precision (kestrel-align's JSON, Open3D's transformations).", "",
        _table(["method", "case", "runs", "results file", "refined matrix", "global matrix"],
               table, ["l"] * 6), ""])


def write_report(data, path):
    """Writes `path` (markdown), its two PNG plots and a CSV of every run beside it."""
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    stem = os.path.splitext(os.path.basename(path))[0]
    rows, run = data["rows"], data["run"]
    summary, best = summarise(rows)
    success_png, time_png = plots(rows, data["pairs"], folder, stem, run["timeout"])
    write_csv(rows, os.path.join(folder, stem + ".csv"))
    title = "# Benchmark: Kestrel against Open3D"
    notice = ("Written by `bench/run-benchmark.sh` from its own measurements; do not edit by "
              "hand: rerun the command instead.")
    if run["quick"]:
        notice += " **Quick subset (`--quick`): not a full report.**"
    parts = [title, "", notice, "", _run_section(run, run["machine"]), _summary_section(
        summary, best),
        "## Plots", "", f"![success against overlap]({success_png})", "",
        f"![time per method]({time_png})", "",
        f"Every run: [{stem}.csv]({stem}.csv).", "",
        _cases_section(data), _breakdown_section(rows, data),
        _kestrel_failures_section(rows), _profile_section(rows, data, run["profile_cases"]),
        _repro_section(data["repro"])]
    with open(path, "w") as f:
        f.write("\n".join(parts).rstrip() + "\n")
