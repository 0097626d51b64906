#!/usr/bin/env python3
"""Runs kestrel-align on the bundled scan pairs under known displacements and prints, per
setting, the success rate, mean best LCP and mean run time, with errors against the ground truth.

usage: bench/align_table.py BUILD_DIR [--pairs 000:045,...] [--trials N] [--axis z|any]
                            [--extra "-o 0.8"] [--icp]
"""
import argparse, json, math, os, random, subprocess, sys, tempfile

# Overlap Q->P of each pair, from examples/README.md.
OVERLAP = {"000:045": 0.94, "000:315": 0.84, "045:090": 0.67, "045:315": 0.62, "000:090": 0.49,
           "090:315": 0.13}
HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "examples")


def mat_read(path):
    with open(path) as f:
        return [[float(v) for v in line.split()] for line in f if line.strip()]


def mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def rigid_inv(m):
    r = [[m[j][i] for j in range(3)] for i in range(3)]
    t = [-sum(r[i][k] * m[k][3] for k in range(3)) for i in range(3)]
    return [r[0] + [t[0]], r[1] + [t[1]], r[2] + [t[2]], [0, 0, 0, 1]]


def rotation(deg, axis, t):
    n = math.sqrt(sum(a * a for a in axis))
    x, y, z = (a / n for a in axis)
    a = math.radians(deg)
    c, s, k = math.cos(a), math.sin(a), 1 - math.cos(a)
    return [[c + x * x * k, x * y * k - z * s, x * z * k + y * s, t[0]],
            [y * x * k + z * s, c + y * y * k, y * z * k - x * s, t[1]],
            [z * x * k - y * s, z * y * k + x * s, c + z * z * k, t[2]],
            [0, 0, 0, 1]]


def apply(m, p):
    return [sum(m[r][k] * p[k] for k in range(3)) + m[r][3] for r in range(3)]


def det3(m):
    return (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
            - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
            + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]))


def rot_err(a, b):
    # The ICP may leave a uniform scale near 1; measure the rotation without it.
    s = abs(det3(a)) ** (1.0 / 3) or 1.0
    tr = sum(a[k][i] * b[k][i] for i in range(3) for k in range(3)) / s
    return math.degrees(math.acos(max(-1, min(1, (tr - 1) / 2))))


def errors(m, expected, point):
    """Rotation error (degrees) and how far apart the two motions put `point` (mm)."""
    return rot_err(m, expected), math.dist(apply(m, point), apply(expected, point))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--pairs", default="000:045,000:315,045:090,045:315,000:090,090:315")
    ap.add_argument("--trials", type=int, default=4)
    ap.add_argument("--axis", default="any", choices=["z", "any", "none"])
    ap.add_argument("--extra", default="")
    ap.add_argument("--icp", action="store_true")
    ap.add_argument("--suited", action="store_true",
                    help="pass -o with the pair's known overlap (examples/README.md)")
    args = ap.parse_args()
    align = os.path.abspath(os.path.join(args.build, "tools", "kestrel-align"))
    rng = random.Random(7)
    tmp = tempfile.mkdtemp()
    print(f"# axis={args.axis} extra='{args.extra}' suited={args.suited} icp={args.icp} "
          f"trials={args.trials}")
    if args.icp:
        print("pair      coarse_ok  coarse_rot/disp(median)  refined_ok  refined_rot/disp(worst)"
              "  all_refined_rot/disp(median)  icp_time_s")
    else:
        print("pair      success  mean_lcp  mean_time_s  rot_err_deg(median)  "
              "disp_err_mm(median)")
    for pair in args.pairs.split(","):
        sp, sq = pair.split(":")
        wp = mat_read(f"{EXAMPLES}/gt_world/bun{sp}.txt")
        wq = mat_read(f"{EXAMPLES}/gt_world/bun{sq}.txt")
        truth = mul(rigid_inv(wp), wq)
        pts = [list(map(float, l.split())) for l in open(f"{EXAMPLES}/bun{sq}.vrt") if l.strip()]
        ok, lcps, times, rerrs, derrs = 0, [], [], [], []
        crerrs, cderrs, icp_times, refined_ok, worst = [], [], [], 0, (0.0, 0.0)
        for trial in range(args.trials):
            if args.axis == "none":
                d = rotation(0, [0, 0, 1], [0, 0, 0])
            else:
                axis = [0, 0, 1] if args.axis == "z" else [rng.uniform(-1, 1) for _ in range(3)]
                d = rotation(rng.uniform(10, 170), axis, [rng.uniform(-50, 50) for _ in range(3)])
            moved = os.path.join(tmp, f"q{sq}_{trial}.vrt")
            with open(moved, "w") as f:
                for p in pts:
                    f.write("%.6g %.6g %.6g\n" % tuple(apply(d, p)))
            cen = [sum(p[i] for p in pts) / len(pts) for i in range(3)]
            cen = apply(d, cen)
            cmd = [align, "--json", "--out", os.path.join(tmp, "r.tfm")] + args.extra.split()
            if args.suited:
                cmd += ["-o", str(OVERLAP[pair])]
            if args.icp:
                cmd.append("--icp")
            cmd += [f"{EXAMPLES}/bun{sp}.vrt", moved]
            out = subprocess.run(cmd, capture_output=True, text=True, cwd=tmp)
            res = json.loads(out.stdout.strip().splitlines()[-1])
            expected = mul(truth, rigid_inv(d))
            re, de = errors(res["matrix"], expected, cen)
            rerrs.append(re)
            derrs.append(de)
            lcps.append(res["best_lcp"])
            times.append(res["run_time_s"] + res.get("icp_time_s", 0))
            ok += re < 5 and de < 5
            if args.icp:
                cre, cde = errors(res["coarse_matrix"], expected, cen)
                crerrs.append(cre)
                cderrs.append(cde)
                icp_times.append(res["icp_time_s"])
                if cre < 5 and cde < 5:
                    refined_ok += re < 1 and de < 1
                    worst = (max(worst[0], re), max(worst[1], de))
        med = lambda v: sorted(v)[len(v) // 2]
        if args.icp:
            coarse_ok = sum(1 for a, b in zip(crerrs, cderrs) if a < 5 and b < 5)
            print(f"{sp}->{sq}   {coarse_ok}/{args.trials}        {med(crerrs):6.2f} / {med(cderrs):6.2f}"
                  f"          {refined_ok}/{coarse_ok}        {worst[0]:5.2f} / {worst[1]:5.2f}"
                  f"              {med(rerrs):6.2f} / {med(derrs):6.2f}"
                  f"           {sum(icp_times)/len(icp_times):.3f}")
            sys.stdout.flush()
            continue
        print(f"{sp}->{sq}   {ok}/{args.trials}      {sum(lcps)/len(lcps):.3f}     "
              f"{sum(times)/len(times):8.3f}      {med(rerrs):8.2f}            {med(derrs):8.2f}")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
