#!/usr/bin/python3
"""The DA fit tool on tables made here from a known D(N) = Dinf + b /
(log10 N)^kappa, with a fixed small scatter inside asymmetric intervals.

  fit_da_test.py FIT_TOOL recovers   # DA columns and volume columns: the
                                     # printed intervals hold the truth
  fit_da_test.py FIT_TOOL refuses    # too few rows, no file, bad --turns
"""
import math
import os
import subprocess
import sys
import tempfile

import matplotlib.image

failures = []
HEADER = ('Veldspan aperture of job "synthetic" at 2026-Dec-09 10:00:00: sample 256 (128^4 grid), '
          '64 random passes (randompasses 4, seed 20110101)')
VOLUME_COLUMNS = "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias"


def check(what, ok):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def truth(turns, dinf, b, kappa):
    return dinf + b / math.log10(turns) ** kappa


def scatter(k, width):
    """A fixed scatter of at most 0.4 of a standard deviation (the interval
    is 1.96 of them on each side)."""
    return 0.4 * width / 1.96 * math.sin(3 * k)


def da_table(path, turns, dinf, b, kappa):
    """DA columns: a 6% interval, wider above than below, around D with its
    scatter. The row of 1 turn (log10 1 = 0) must be left out, not fitted."""
    lines = [HEADER, VOLUME_COLUMNS + ",da_sigma,da_lo95,da_hi95", "Domain,64,16,0,16,16,0,-,-,-",
             "1,64,15.9,0.01,15.88,15.92,0,12.1,11.9,12.3"]
    for k, n in enumerate(turns):
        d = truth(n, dinf, b, kappa)
        d += scatter(k, 0.05 * d)
        lines.append(f"{n},64,1,0.01,0.98,1.02,0,{d:.7g},{d - 0.05 * d:.7g},{d + 0.07 * d:.7g}")
    write(path, lines)


def volume_table(path, turns, dinf, b, kappa):
    """Volume columns only: V of the 4D ball of radius D, a 10% interval of V.
    The last row's lower bound is below 0, as a row with few survivors can
    have; a row of one pass has no interval."""
    lines = [HEADER + "; 12 survivors of the last turn count start on the box's edge", VOLUME_COLUMNS,
             "Domain,64,16,0,16,16,0"]
    for k, n in enumerate(turns):
        v = math.pi ** 2 / 2 * truth(n, dinf, b, kappa) ** 4
        v *= 1 + scatter(k, 0.1)
        low = -0.01 if k == len(turns) - 1 else v * 0.9
        lines.append(f"{n},64,{v:.7g},{v * 0.05:.7g},{low:.7g},{v * 1.1:.7g},0")
    lines.append(f"{turns[-1] * 10},1,{v * 0.9:.7g},-,-,-,-")
    write(path, lines)


def write(path, lines):
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def figures(stdout):
    """The printed figures: name -> (fit, lo95, hi95)."""
    table = {}
    for line in stdout.splitlines():
        words = line.split()
        if words and (words[0] in ("Dinf", "b", "kappa") or words[0].startswith("D(")):
            table[words[0]] = tuple(float(w) for w in words[1:4])
    return table


def check_recovered(name, table, true, widest):
    if name not in table:
        check(f"{name} printed", False)
        return
    fit, low, high = table[name]
    check(f"{name}: {low:g} <= {true:g} <= {high:g}, fit {fit:g} inside too",
          low <= true <= high and low <= fit <= high)
    check(f"{name}: an interval narrower than {widest:g} ({high - low:g})", 0 < high - low < widest)


def recovers(tool, scratch):
    turns = [10, 30, 100, 300, 1000, 3000, 10000, 30000, 100000]
    path = os.path.join(scratch, "aperture.csv")
    da_table(path, turns, 4.0, 6.0, 1.5)
    run = subprocess.run([tool, "--turns", "1000000", scratch], capture_output=True, text=True)
    check(f"DA columns: status 0 ({run.returncode}: {run.stderr.strip()})", run.returncode == 0)
    table = figures(run.stdout)
    check_recovered("Dinf", table, 4.0, 2.0)
    check_recovered("b", table, 6.0, 3.0)
    check_recovered("kappa", table, 1.5, 1.5)
    check_recovered("D(1000000)", table, truth(1e6, 4.0, 6.0, 1.5), 1.0)
    check("the row of 1 turn is left out with a note", "note: the row of 1 turn is left out" in run.stdout)
    check("the DA in beam sigma is named", "DA in beam sigma" in run.stdout)
    check("the method of the intervals is named", "bootstrap" in run.stdout and "shared by all rows" in run.stdout)
    check_picture(os.path.join(scratch, "da_fit.png"))
    again = subprocess.run([tool, "--turns", "1000000", "--out", os.path.join(scratch, "again.png"), path],
                           capture_output=True, text=True)
    check("the same figures from the same file", figures(again.stdout) == table)

    volume_path = os.path.join(scratch, "volume.csv")
    volume_table(volume_path, turns, 0.4, 0.5, 1.0)
    run = subprocess.run([tool, "--out", os.path.join(scratch, "volume.png"), volume_path],
                         capture_output=True, text=True)
    check(f"volume columns: status 0 ({run.returncode}: {run.stderr.strip()})", run.returncode == 0)
    table = figures(run.stdout)
    check("the volume-equivalent radius is named", "volume-equivalent radius" in run.stdout)
    check_recovered("Dinf", table, 0.4, 0.6)
    check_recovered("b", table, 0.5, 1.0)
    check_recovered("kappa", table, 1.0, 1.5)
    check("a row of one pass is left out with a note", "left out (no interval yet)" in run.stdout)
    check("no extrapolation unless asked", not any(k.startswith("D(") for k in table))


def check_picture(png):
    if not os.path.exists(png):
        check("da_fit.png beside aperture.csv", False)
        return
    picture = (matplotlib.image.imread(png)[:, :, :3] * 255).round().astype(int)
    height, width = picture.shape[:2]
    check(f"900 x 560 pixels ({width} x {height})", (width, height) == (900, 560))
    fit_pixels = int(((picture == [0xd6, 0x27, 0x28]).all(axis=2)).sum())
    band_pixels = int(((picture == [0xfc, 0xbb, 0xa1]).all(axis=2)).sum())
    check(f"the fit's curve ({fit_pixels} pixels) and band ({band_pixels}) drawn",
          fit_pixels > 300 and band_pixels > 1000)


def refuses(tool, scratch):
    path = os.path.join(scratch, "aperture.csv")
    da_table(path, [10, 100, 1000], 4.0, 6.0, 1.5)
    run = subprocess.run([tool, path], capture_output=True, text=True)
    check(f"three rows: status 1 and a message ({run.returncode}: {run.stderr.strip()})",
          run.returncode == 1 and "3 usable turn-count rows" in run.stderr and "at least 4" in run.stderr)
    check("three rows: no picture", not os.path.exists(os.path.join(scratch, "da_fit.png")))
    da_table(path, [10, 100, 100, 1000], 4.0, 6.0, 1.5)
    run = subprocess.run([tool, path], capture_output=True, text=True)
    check(f"a turn count twice counts once: status 1 ({run.returncode}: {run.stderr.strip()})",
          run.returncode == 1 and "3 usable" in run.stderr and "the same turn count" in run.stderr)
    empty = os.path.join(scratch, "job")
    os.mkdir(empty)
    run = subprocess.run([tool, empty], capture_output=True, text=True)
    check(f"a directory without aperture.csv: status 1 ({run.returncode}: {run.stderr.strip()})",
          run.returncode == 1 and "aperture.csv cannot be read" in run.stderr)
    write(path, [HEADER, "Iters,passes,volume", "10,64,1"])
    run = subprocess.run([tool, path], capture_output=True, text=True)
    check(f"another file: status 1 naming the line ({run.stderr.strip()})",
          run.returncode == 1 and "line 2" in run.stderr)
    run = subprocess.run([tool, "--turns", "1", path], capture_output=True, text=True)
    check(f"--turns 1: bad usage, status 2 ({run.returncode})", run.returncode == 2)


def main():
    tool, group = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        {"recovers": recovers, "refuses": refuses}[group](tool, scratch)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
