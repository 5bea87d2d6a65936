#!/usr/bin/python3
"""The Henon example (examples/henon) run by the program, against a model
of the map written here in numpy, in double precision, sharing no code with
the program; then the DA fit on that run.

  henon_example_test.py PROGRAM EXAMPLE_DIR FIT_TOOL

The program's first result block is its first sample: the unshifted grid
(jitter 0), whose points the model tracks too. Single precision against
double moves a few particles on the chaotic edge of the aperture by a level;
every row must agree to within 0.5% of the grid's points.
"""
import math
import os
import re
import subprocess
import sys
import tempfile

import numpy

failures = []


def check(what, ok):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def job_values(text, key):
    for line in text.splitlines():
        words = line.split("#")[0].split()
        if words and words[0].lower() == key:
            return [float(w) for w in words[1:]]
    raise ValueError(f"no {key} line")


def model_survivors(text):
    """Per turn count, the grid points of the unshifted grid that pass it."""
    b = int(job_values(text, "baseres")[0])
    turns = [int(t) for t in job_values(text, "iterations")]
    lows, spans = [], []
    for key in ("xrange", "xprange", "yrange", "yprange"):
        low, high = job_values(text, key)
        lows.append(low)
        spans.append(high - low)
    k = job_values(text, "k")
    mu = -k[2] / 6
    qx, qy = job_values(text, "r")[:2]
    limit = job_values(text, "xcollimator")[1]
    grid = numpy.arange(b) / b
    x, xp, y, yp = (lows[c] + spans[c] * g for c, g in
                    enumerate(numpy.meshgrid(grid, grid, grid, grid, indexing="ij")))
    x, xp, y, yp = (a.ravel().copy() for a in (x, xp, y, yp))
    made = numpy.zeros(x.size, dtype=numpy.int64)
    alive = numpy.ones(x.size, dtype=bool)
    cx, sx, cy, sy = math.cos(2 * math.pi * qx), math.sin(2 * math.pi * qx), math.cos(2 * math.pi * qy), math.sin(2 * math.pi * qy)
    with numpy.errstate(over="ignore", invalid="ignore"):
        for t in range(turns[-1] + 1):
            alive &= (numpy.abs(x) <= limit) & (numpy.abs(y) <= limit)
            made += alive
            xp = xp + x * x - y * y + mu * (x ** 3 - 3 * x * y * y)
            yp = yp - 2 * x * y + mu * (y ** 3 - 3 * x * x * y)
            x, xp = cx * x + sx * xp, -sx * x + cx * xp
            y, yp = cy * y + sy * yp, -sy * y + cy * yp
    return [int((made > t).sum()) for t in turns], b


def main():
    program, example, fit_tool = sys.argv[1:4]
    with open(os.path.join(example, "input.txt")) as f:
        text = f.read()
    text = re.sub(r"(?m)^baseres .*$", "baseres 8", text)
    text = re.sub(r"(?m)^iterations .*$", "iterations 10 100 300 1000 3000 10000", text)
    text = re.sub(r"(?m)^maxsamples .*$", "maxsamples 16", text)
    with tempfile.TemporaryDirectory() as job:
        with open(os.path.join(job, "input.txt"), "w") as f:
            f.write(text)
        run = subprocess.run([program, "--headless", "--engine", "cpu", job], capture_output=True, text=True)
        check(f"the program ends with status 0 ({run.returncode})", run.returncode == 0)
        with open(os.path.join(job, "output.csv")) as f:
            block = f.read().split("\n\n")[0].splitlines()[3:]
        expected, b = model_survivors(text)
        cell = 1.2 ** 4 / b ** 4
        for row, count in zip(block[1:], expected):
            label, volume = row.split(",")[:2]
            program_count = round(float(volume) / cell)
            check(f"{label} turns: the program keeps {program_count} grid points, the model {count}",
                  abs(program_count - count) <= 0.005 * b ** 4)
        fit = subprocess.run([fit_tool, "--turns", "1000000", job], capture_output=True, text=True)
        check(f"the fit ends with status 0 ({fit.returncode}: {fit.stderr.strip()})", fit.returncode == 0)
        dinf = re.search(r"(?m)^Dinf\s+(\S+)\s+(\S+)\s+(\S+)", fit.stdout)
        check("the fit gives Dinf with its interval", dinf is not None)
        if dinf:
            value, low, high = (float(g) for g in dinf.groups())
            check(f"Dinf {value} within its interval {low} .. {high}, and near the map's 0.4", low <= value <= high
                  and 0.3 < value < 0.5)
        check("the fit's plot", os.path.getsize(os.path.join(job, "da_fit.png")) > 10000)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
