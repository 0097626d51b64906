"""Runs kestrel-align as a user would from a script and reads back what it printed.

Every run asks for --icp, so one process gives both the global motion (the JSON's coarse matrix,
timed as the wall time less the ICP time) and the refined one. Fields that a build does not
print are simply missing from the outcome: the report leaves their cells empty.
"""
import json
import os
import subprocess
import time

DEFAULT_OVERLAP = 0.55  # kestrel's overlap estimate, and so its stopping threshold, without -o


def supports(align, option):
    """Whether this build of kestrel-align lists `option` in its --help."""
    out = subprocess.run([align, "--help"], capture_output=True, text=True, timeout=30)
    return option in out.stdout


def stop_threshold(args):
    """The LCP above which a run stops early: the last -o given, else the default estimate."""
    value = DEFAULT_OVERLAP
    for flag, v in zip(args, args[1:]):
        if flag == "-o":
            value = float(v)
    return value


def last_json(path):
    """The last line of a console log that parses as a JSON object (read from its last 64 KiB),
    or None."""
    with open(path, "rb") as f:
        f.seek(0, os.SEEK_END)
        f.seek(max(0, f.tell() - 65536))
        tail = f.read().decode("utf-8", "replace")
    for line in reversed(tail.replace("\r", "\n").splitlines()):
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                return None
    return None


def run_align(align, args, p_file, q_file, out_tfm, timeout):
    """Runs `kestrel-align --icp --json --out out_tfm ARGS P Q` with its console kept next to
    `out_tfm`. Returns a dict: status ("ok", "timeout", "failed"; a run that wrote its results
    but was not confident, exit status 3, is "ok"), wall_s, message, and from the JSON when
    present: matrix, verdict, coarse, icp_s, best_lcp, trials, profile."""
    log = os.path.splitext(out_tfm)[0] + ".log"
    cmd = [align, *args, "--icp", "--json", "--out", out_tfm, p_file, q_file]
    if os.path.exists(out_tfm):
        os.remove(out_tfm)
    t0 = time.perf_counter()
    try:
        with open(log, "wb") as console:
            done = subprocess.run(cmd, stdout=console, stderr=subprocess.STDOUT, timeout=timeout,
                                  cwd=os.path.dirname(out_tfm))
    except subprocess.TimeoutExpired:
        return {"status": "timeout", "wall_s": timeout, "message": f"over {timeout:g} s"}
    wall = time.perf_counter() - t0
    result = last_json(log)
    # Exit status 3: the results were written, but the verdict is not confident. The motion is
    # still the run's answer, and it is judged against the truth like any other.
    written = done.returncode == 0 or (done.returncode == 3 and result is not None
                                       and result.get("matrix") is not None)
    if not written or result is None:
        return {"status": "failed", "wall_s": wall,
                "message": f"exit status {done.returncode}, see {log}"}
    outcome = {"status": "ok", "wall_s": wall, "message": "", "matrix": result.get("matrix"),
               "verdict": result.get("verdict"),
               "coarse": result.get("coarse_matrix"), "icp_s": result.get("icp_time_s"),
               "best_lcp": result.get("best_lcp"), "trials": result.get("trials"),
               "run_s": result.get("run_time_s"),
               "profile": result.get("profile")}
    return outcome
