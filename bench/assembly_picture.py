#!/usr/bin/python3
"""Draws an assembled model: the points of kestrel-assemble's merged.ply, coloured by scan.

    /usr/bin/python3 bench/assembly_picture.py OUT_DIR/merged.ply PICTURE.png [--every N]
"""
import argparse
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402


def read_merged(path):
    """merged.ply's vertices: (N, 3) positions and (N,) scan indices."""
    with open(path, "rb") as f:
        count = 0
        while True:
            line = f.readline().decode("ascii").strip()
            if line.startswith("element vertex"):
                count = int(line.split()[2])
            if line == "end_header":
                break
        rows = np.frombuffer(f.read(count * 28), dtype=[("xyz", "<f8", 3), ("scan", "<i4")])
    return rows["xyz"], rows["scan"]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("merged")
    ap.add_argument("picture")
    ap.add_argument("--every", type=int, default=3, help="draw every Nth point")
    args = ap.parse_args()
    xyz, scan = read_merged(args.merged)
    xyz, scan = xyz[::args.every], scan[::args.every]
    fig = plt.figure(figsize=(9, 4.5))
    for k, (elev, azim) in enumerate([(90, -90), (0, 0)]):
        ax = fig.add_subplot(1, 2, k + 1, projection="3d")
        colours = plt.get_cmap("tab10")(scan % 10)
        ax.scatter(xyz[:, 0], xyz[:, 1], xyz[:, 2], c=colours, s=1.2, linewidths=0,
                   depthshade=False)
        ax.view_init(elev=elev, azim=azim)
        ax.set_box_aspect(np.ptp(xyz, axis=0))
        ax.set_axis_off()
    fig.suptitle(f"kestrel-assemble: {scan.max() + 1} scans, one colour each")
    fig.tight_layout()
    fig.savefig(args.picture, dpi=110)
    return 0


if __name__ == "__main__":
    sys.exit(main())
