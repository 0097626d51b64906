"""The report's two plots (success against overlap, time per method) and its CSV of every run."""
import csv
import os

import numpy as np

from bench_rows import method_order


def plots(rows, pairs, folder, stem, timeout):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    kept = sorted((p for p in pairs if p["kept"]), key=lambda p: p["overlap"])
    variants = method_order([dict(r, method=r["variant"]) for r in rows])
    colours = plt.get_cmap("tab20").colors
    fig, axes = plt.subplots(1, 2, figsize=(13, 7), sharey=True)
    for ax, refined in zip(axes, (False, True)):
        for m in method_order(rows):
            mine = [r for r in rows if r["method"] == m]
            if mine[0]["icp"] != refined:
                continue
            i = variants.index(mine[0]["variant"])
            rate = [np.mean([r["success"] for r in mine if r["pair"] == p["name"]]) * 100
                    for p in kept]
            # A small sideways shift per method keeps coinciding lines apart.
            shift = (i - len(variants) / 2) * 0.25
            kestrel = mine[0]["family"] == "kestrel"
            ax.plot([p["overlap"] * 100 + shift for p in kept], rate, color=colours[i % 20],
                    marker="o" if kestrel else "s", linestyle="-" if kestrel else "--", label=m)
        ax.set_title("with ICP" if refined else "global registration only")
        ax.set_xlabel("overlap of the pair (% of Q within 1 mm of P)")
        ax.set_ylim(-5, 105)
        ax.grid(alpha=0.3)
        ax.legend(fontsize=7, loc="upper left", bbox_to_anchor=(0, -0.13), ncol=2)
    axes[0].set_ylabel("cases registered (%)")
    fig.tight_layout()
    success_png = f"{stem}-success.png"
    fig.savefig(os.path.join(folder, success_png), dpi=90)
    plt.close(fig)

    methods = method_order(rows)
    fig, ax = plt.subplots(figsize=(10, 0.32 * len(methods) + 1.5))
    data = [[r["time_s"] for r in rows if r["method"] == m and r["time_s"] is not None]
            for m in methods]
    box = ax.boxplot(data, vert=False, labels=methods, patch_artist=True)
    for patch, m in zip(box["boxes"], methods):
        family = next(r["family"] for r in rows if r["method"] == m)
        patch.set_facecolor("#8fb8de" if family == "kestrel" else "#f2b880")
    ax.axvline(timeout, color="grey", linestyle=":", label=f"timeout ({timeout:g} s)")
    ax.set_xscale("log")
    ax.set_xlabel("time per case (s, log scale)")
    ax.invert_yaxis()
    ax.grid(alpha=0.3, axis="x")
    ax.legend(fontsize=8)
    fig.tight_layout()
    time_png = f"{stem}-time.png"
    fig.savefig(os.path.join(folder, time_png), dpi=90)
    plt.close(fig)
    return success_png, time_png


def write_csv(rows, path):
    fields = ["case", "pair", "overlap", "displaced", "method", "status", "success", "rot_err",
              "trans_err", "time_s", "best_lcp", "trials", "stop_thr", "message"]
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fields, extrasaction="ignore")
        w.writeheader()
        for r in rows:
            w.writerow({k: r.get(k) for k in fields})
