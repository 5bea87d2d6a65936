#!/usr/bin/python3
"""The scan plot tool on two fixed scans: a 3 x 3 grid (DA columns, point
2-3 not done) and a one-line scan of 5 points (volume only, point 4 not
done). The grid's heat map shows its colours with the missing point's cell
in the mask colour, in the middle column of the top row; the line plot
shows its band and a grey strip. A scan without rows, a directory without
scan.csv and a turn count the scan lacks are refused.

  plot_scan_test.py PLOT_TOOL DATA_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile

import matplotlib.image
import numpy

failures = []
MISSING = [0xbd, 0xbd, 0xbd]


def check(what, ok):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def read_png(png):
    return (matplotlib.image.imread(png)[:, :, :3] * 255).round().astype(int)


def plot(tool, job, png, *options):
    run = subprocess.run([tool, *options, "--out", png, job], capture_output=True, text=True)
    check(f"{os.path.basename(job)}: status 0 ({run.returncode}: {run.stderr.strip()})", run.returncode == 0)
    return read_png(png) if run.returncode == 0 else None


def is_colour(picture, rgb):
    return (picture == rgb).all(axis=2)


def grid(tool, data, scratch):
    picture = plot(tool, os.path.join(data, "scan-grid"), os.path.join(scratch, "grid.png"))
    if picture is None:
        return
    height, width = picture.shape[:2]
    check(f"grid: 1300 x 520 pixels ({width} x {height})", (width, height) == (1300, 520))
    left = picture[:, :width // 2]
    grey = (left.max(axis=2) - left.min(axis=2)) < 8
    colours = {tuple(c) for c in left[~grey]}
    check(f"grid: the heat map's colours ({len(colours)} distinct, not grey)", len(colours) >= 8)
    # NOTE: the antialiased text has pixels of every grey, the mask colour
    # among them; only the cell fills long runs of it.
    masked = is_colour(left, MISSING)
    rows, columns = numpy.nonzero(masked.sum(axis=1) > 60)[0], numpy.nonzero(masked.sum(axis=0) > 60)[0]
    if len(rows) == 0 or len(columns) == 0:
        check("grid: the missing point's cell in the mask colour", False)
        return
    top, bottom, first, last = rows.min(), rows.max(), columns.min(), columns.max()
    cell = masked[top:bottom + 1, first:last + 1]
    check(f"grid: the missing point is one whole cell ({last - first + 1} x {bottom - top + 1} pixels)",
          cell.all() and last - first > 60 and bottom - top > 60)
    middle = (top + bottom) // 2
    beside = [left[middle, first - 4], left[middle, last + 4], left[bottom + 4, (first + last) // 2]]
    check("grid: points done to its left, right and below", all(c.max() - c.min() > 30 for c in beside))
    check("grid: outside the map above it (the top row)", (left[top - 4, (first + last) // 2] == 255).all())
    right = is_colour(picture[:, width // 2:], MISSING)
    check("grid: the half-width panel masks the same point",
          (right.sum(axis=1) > 60).sum() == len(rows) and (right.sum(axis=0) > 60).sum() == len(columns))


def line(tool, data, scratch):
    picture = plot(tool, os.path.join(data, "scan-line"), os.path.join(scratch, "line.png"), "--turns", "10")
    if picture is None:
        return
    height, width = picture.shape[:2]
    check(f"line: 900 x 520 pixels ({width} x {height})", (width, height) == (900, 520))
    band = int(is_colour(picture, [0x9e, 0xca, 0xe1]).sum())
    strip = int(is_colour(picture, MISSING).sum())
    check(f"line: the band ({band} pixels) and the missing point's strip ({strip})", band > 5000 and strip > 5000)


def refusals(tool, data, scratch):
    job = os.path.join(scratch, "job")
    os.mkdir(job)
    run = subprocess.run([tool, job], capture_output=True, text=True)
    check(f"no scan.csv: status 1 ({run.returncode}: {run.stderr.strip()})",
          run.returncode == 1 and "scan.csv cannot be read" in run.stderr)
    with open(os.path.join(data, "scan-grid", "scan.csv")) as f:
        head = f.readlines()[:2]
    with open(os.path.join(job, "scan.csv"), "w") as f:
        f.writelines(head)
    run = subprocess.run([tool, job], capture_output=True, text=True)
    check(f"no rows: status 1 ({run.returncode}: {run.stderr.strip()})",
          run.returncode == 1 and "no point" in run.stderr)
    check("no rows: no picture", not os.path.exists(os.path.join(job, "scan.png")))
    shutil.copy(os.path.join(data, "scan-line", "scan.csv"), job)
    run = subprocess.run([tool, "--turns", "50", job], capture_output=True, text=True)
    check(f"--turns the scan lacks: status 2 naming its turn counts ({run.returncode}: {run.stderr.strip()})",
          run.returncode == 2 and "10, 100" in run.stderr)


def main():
    tool, data = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        grid(tool, data, scratch)
        line(tool, data, scratch)
        refusals(tool, data, scratch)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
