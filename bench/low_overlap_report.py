"""The low-overlap benchmark's report (bench/low_overlap.py): success per section and method,
Kestrel's verdicts against the truth, and one row per case, as markdown.

A record is one case (name, section, kind, overlap, points) with its runs by method; a run holds
status, exit, wall_s, outcome ("right", "wrong", "none"), angle_deg, gap, fit and json (every
top-level field Kestrel printed; empty for Open3D).
"""
import numpy as np

from low_overlap_cases import SECTIONS

VERDICTS = ["confident", "uncertain", "no_match"]
# Fields today's kestrel-align prints; anything else shows up in the report's own column.
KNOWN_FIELDS = {"p_file", "q_file", "p_points", "q_points", "best_lcp", "trials", "stopped",
                "run_time_s", "stop_reason", "matrix", "coarse_matrix", "refined_matrix",
                "icp_error", "icp_time_s", "icp_time_ms", "error", "profile", "verdict",
                "evidence"}
SECTION_TITLE = {"low": "low overlap (8-30 %)", "none": "no overlap (< 4 %)",
                 "control": "control (30 % and more)"}


def seconds(value):
    return "" if value is None else f"{value:.2f}"


def number(value):
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return str(value)
    return f"{value:.3g}"


def outcome_cell(run):
    """"right 0.4° 0.3" (rotation error, error at Q's centroid in the case's unit), "wrong ...
    (fit 0.12)" with the share of Q that the motion puts near P, or "none (why)" when no motion
    came back."""
    if run["outcome"] == "none":
        return f"none ({run['status']})"
    if run["angle_deg"] is None:
        return f"{run['outcome']} (fit {run['fit']:.2f})"
    errors = f"{run['outcome']} {run['angle_deg']:.1f}° {run['gap']:.3g}"
    return errors if run["outcome"] == "right" else f"{errors} (fit {run['fit']:.2f})"


def verdict_row(run):
    """The verdict table's row for a run: "no motion" first, then the verdict printed."""
    if run["outcome"] == "none":
        return "no motion"
    return run["json"].get("verdict") or "no verdict"


def verdict_note(run):
    verdict = run["json"].get("verdict")
    return f" [verdict {verdict}]" if verdict else ""


def fits_better(record):
    """Whether some method returned a wrong motion that puts at least as much of Q near P as
    the truth does: a case the overlap score alone cannot settle (marked † in the rows)."""
    return record["section"] != "none" and any(
        run["outcome"] == "wrong" and run["fit"] >= record["overlap"]
        for run in record["runs"].values())


def unsettled_text(records):
    counts = [f"{sum(fits_better(r) for r in in_section(records, s))} of "
              f"{len(in_section(records, s))} {s}" for s in SECTIONS
              if s != "none" and in_section(records, s)]
    return ("Cases marked † in the rows: some method returned a wrong motion that puts at least "
            "as much of Q within the overlap radius of P as the truth does, so the overlap "
            "score alone cannot settle them: " + ", ".join(counts) + ".")


def rigidity_text(records):
    dets = [r["runs"]["kestrel"]["det"] for r in records
            if r["runs"]["kestrel"]["det"] is not None]
    if not dets:
        return "Kestrel returned no motion."
    worst = max(abs(d - 1.0) for d in dets)
    return f"Kestrel's motions: largest |det R - 1| {worst:.2g} over {len(dets)} motions."


def markdown(head, rows):
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    lines += ["| " + " | ".join(str(c) for c in r) + " |" for r in rows]
    return "\n".join(lines)


def in_section(records, section):
    return [r for r in records if r["section"] == section]


def success_table(records, methods):
    """Per section and method: right, wrong, no motion, the right share, median and 90th
    percentile wall time."""
    rows = []
    for section in SECTIONS:
        group = in_section(records, section)
        if not group:
            continue
        for m in methods:
            runs = [r["runs"][m] for r in group]
            count = {o: sum(run["outcome"] == o for run in runs) for o in ("right", "wrong",
                                                                           "none")}
            times = [run["wall_s"] for run in runs if run["wall_s"] is not None]
            rows.append([SECTION_TITLE[section], len(group), m, count["right"], count["wrong"],
                         count["none"], f"{100 * count['right'] / len(group):.0f} %",
                         seconds(np.median(times)) if times else "",
                         seconds(np.percentile(times, 90)) if times else ""])
    return markdown(["section", "cases", "method", "right", "wrong", "no motion", "right share",
                     "median s", "p90 s"], rows)


def verdict_table(records):
    """Kestrel's verdicts against the truth, per section: a row per verdict (and for runs that
    printed none, or returned no motion), columns right and wrong."""
    labels = VERDICTS + sorted({verdict_row(r["runs"]["kestrel"]) for r in records}
                               - set(VERDICTS) - {"no verdict", "no motion"}) \
        + ["no verdict", "no motion"]
    head = ["verdict"]
    present = [s for s in SECTIONS if in_section(records, s)]
    for section in present + ["all"]:
        head += [f"{section}: right", f"{section}: wrong"]
    rows = []
    for label in labels:
        row = [label]
        for section in present + ["all"]:
            group = records if section == "all" else in_section(records, section)
            runs = [r["runs"]["kestrel"] for r in group if verdict_row(r["runs"]["kestrel"])
                    == label]
            if label == "no motion":
                row += [f"n={len(runs)}", ""]
            else:
                row += [sum(run["outcome"] == "right" for run in runs),
                        sum(run["outcome"] == "wrong" for run in runs)]
        rows.append(row)
    return markdown(head, rows)


def extra_fields(printed):
    """The JSON's fields beyond today's, compactly: scalars as name=value, lists by length."""
    out = []
    for key, value in printed.items():
        if key in KNOWN_FIELDS:
            continue
        if isinstance(value, list):
            out.append(f"{key}[{len(value)}]")
        elif isinstance(value, dict):
            out.append(f"{key}{{{', '.join(value)}}}")
        else:
            out.append(f"{key}={number(value)}")
    return " ".join(out)


def evidence_cell(printed):
    evidence = printed.get("evidence")
    if not isinstance(evidence, dict):
        return "" if evidence is None else str(evidence)
    return " ".join(f"{k}={number(v)}" for k, v in evidence.items())


def case_table(records, methods):
    head = ["case", "overlap", "P/Q points", "Kestrel", "verdict", "LCP", "trials", "exit",
            "Kestrel s"]
    for m in methods[1:]:
        head += [m, f"{m} s"]
    head += ["evidence", "other fields"]
    rows = []
    for r in records:
        k = r["runs"]["kestrel"]
        printed = k["json"]
        lcp = printed.get("best_lcp")
        row = [r["name"] + (" †" if fits_better(r) else ""), f"{r['overlap']:.3f}",
               f"{r['p_points']}/{r['q_points']}",
               outcome_cell(k), printed.get("verdict", ""),
               "" if lcp is None else f"{lcp:.3f}", printed.get("trials", ""),
               "" if k["exit"] is None else k["exit"], seconds(k["wall_s"])]
        for m in methods[1:]:
            row += [outcome_cell(r["runs"][m]), seconds(r["runs"][m]["wall_s"])]
        row += [evidence_cell(printed), extra_fields(printed)]
        rows.append(row)
    return markdown(head, rows)


def case_overview(records):
    """Per section and kind of case: how many, their overlap range and point counts."""
    rows = []
    for section in SECTIONS:
        kinds = {}
        for r in in_section(records, section):
            kinds.setdefault(r["kind"], []).append(r)
        for kind, group in kinds.items():
            shares = [r["overlap"] for r in group]
            points = [n for r in group for n in (r["p_points"], r["q_points"])]
            rows.append([section, kind, len(group), f"{min(shares):.3f}-{max(shares):.3f}",
                         f"{min(points)}-{max(points)}",
                         ", ".join(sorted({r["unit"] for r in group}))])
    return markdown(["section", "kind", "cases", "overlap", "points per scan", "units"], rows)


def setting_text(records, setting):
    load = setting["load"]
    return (f"`{setting['command']}`: {len(records)} cases{' (quick)' if setting['quick'] else ''}"
            f" in {setting['seconds']:.0f} s, one run at a time; load average "
            f"{load[0][0]:.2f} at the start and {load[1][0]:.2f} at the end on "
            f"{setting['cores']} cores (times are only comparable on a quiet machine). "
            f"Kestrel: `kestrel-align {setting['flags']} --json --quiet --out --matrix` "
            f"({setting['align']}), timeout {setting['timeout']:g} s. Open3D: "
            + ("RANSAC on FPFH at 5 mm and 3 mm voxels (5 and 3 mm on the bunny, scaled by "
               "size / 150 mm for the synthetic shapes), seeded by the case's name (its threads "
               "still let a few runs differ from one run of this script to the next), then "
               "point-to-plane ICP." if len(setting["methods"]) > 1 else "not run."))


DEFINITIONS = (
    "Overlap: the share of Q's points within two point spacings of P once moved by the true "
    "motion (a scan's point spacing: the median distance from its points to their nearest "
    "neighbours; about 1.1 mm on the bunny scans). Pairs of different objects count 0. "
    "A motion is right when its rotation error is under 5° and its error at Q's centroid under "
    "5 mm (under 2 % of the shape's size for cases in metres); in the no-overlap section every "
    "motion is wrong. A Kestrel or Open3D cell reads outcome, rotation error and error at Q's "
    "centroid (in the case's unit) and, for a wrong one, its \"fit\": the share of Q within the "
    "overlap radius of P under that motion (a wrong motion that fits as well as the true overlap "
    "is one the scans cannot tell from the truth at that radius). Times: wall time of the whole "
    "run, files read included (Kestrel: the whole process).")


def full_report(records, setting):
    methods = setting["methods"]
    parts = ["# Registration at low overlap, and the verdict", setting_text(records, setting),
             DEFINITIONS, "## Cases", case_overview(records),
             "## Right results per section and method", success_table(records, methods),
             unsettled_text(records), rigidity_text(records),
             "## Kestrel's verdict against the truth", verdict_table(records)]
    for section in SECTIONS:
        group = in_section(records, section)
        if group:
            parts += [f"## Cases: {SECTION_TITLE[section]}", case_table(group, methods)]
    return "\n\n".join(parts)


def summary(records, setting):
    return "\n\n".join([success_table(records, setting["methods"]),
                        unsettled_text(records) + " " + rigidity_text(records),
                        "Kestrel's verdicts:\n" + verdict_table(records),
                        f"{len(records)} cases in {setting['seconds']:.0f} s"])
