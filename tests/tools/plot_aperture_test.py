#!/usr/bin/python3
"""The plot tool on a fixed pair of result files (a run of the bundled
example, 256 samples): the PNG it writes has the figure's size, is not
blank, and shows the random passes' band, their mean and the schedule's
points in their colours. A directory without aperture.csv is refused.

  plot_aperture_test.py PLOT_TOOL DATA_DIR
"""
import os
import subprocess
import sys
import tempfile

import matplotlib.image
import numpy

failures = []


def check(what, ok):
    print(("ok: " if ok else "FAILED: ") + what)
    if not ok:
        failures.append(what)


def pixels_of(picture, hex_colour):
    rgb = [int(hex_colour[k:k + 2], 16) for k in (1, 3, 5)]
    return int(numpy.all(picture[..., :3] == rgb, axis=-1).sum())


def main():
    tool, data = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        png = os.path.join(scratch, "aperture.png")
        run = subprocess.run([tool, data, "-o", png], capture_output=True, text=True)
        check(f"the tool ends with status 0 ({run.returncode}: {run.stderr.strip()})", run.returncode == 0)
        if run.returncode != 0:
            return 1
        with open(png, "rb") as f:
            check("a PNG", f.read(8) == b"\x89PNG\r\n\x1a\n")
        picture = numpy.round(matplotlib.image.imread(png) * 255).astype(int)
        height, width = picture.shape[:2]
        check(f"1300 x 520 pixels ({width} x {height})", (width, height) == (1300, 520))
        white = int(numpy.all(picture[:, :, :3] == 255, axis=2).sum())
        check(f"not blank ({width * height - white} pixels not white)", width * height - white > 0.03 * width * height)
        colours = len(numpy.unique(picture[:, :, :3].reshape(-1, 3), axis=0))
        check(f"many colours ({colours})", colours > 50)
        check(f"the band's colour ({pixels_of(picture, '#9ecae1')} pixels)", pixels_of(picture, "#9ecae1") > 2000)
        check(f"the random mean's colour ({pixels_of(picture, '#08519c')} pixels)", pixels_of(picture, "#08519c") > 300)
        check(f"the first block's colour ({pixels_of(picture, '#ff7f0e')} pixels)", pixels_of(picture, "#ff7f0e") > 50)
        with_da = os.path.join(scratch, "da")
        os.mkdir(with_da)
        with open(os.path.join(data, "output.csv")) as f, open(os.path.join(with_da, "output.csv"), "w") as g:
            g.write(f.read())
        with open(os.path.join(data, "aperture.csv")) as f, open(os.path.join(with_da, "aperture.csv"), "w") as g:
            lines = f.read().splitlines()
            g.write(lines[0] + "\n" + lines[1] + ",da_sigma,da_lo95,da_hi95\n")
            for k, line in enumerate(lines[2:]):
                g.write(line + f",{5 - k},{4.5 - k},{5.5 - k}\n")
        run = subprocess.run([tool, with_da], capture_output=True, text=True)
        check(f"with DA columns: status 0 ({run.returncode}: {run.stderr.strip()})", run.returncode == 0)
        if run.returncode == 0:
            picture = numpy.round(matplotlib.image.imread(os.path.join(with_da, "aperture.png")) * 255).astype(int)
            height, width = picture.shape[:2]
            check(f"with DA columns: a third panel, 1950 x 520 pixels ({width} x {height})", (width, height) == (1950, 520))
            third = picture[:, 1300:, :3]
            check("with DA columns: the third panel has the band", pixels_of(third, "#9ecae1") > 2000)
        empty = os.path.join(scratch, "job")
        os.mkdir(empty)
        with open(os.path.join(data, "output.csv")) as f, open(os.path.join(empty, "output.csv"), "w") as g:
            g.write(f.read())
        run = subprocess.run([tool, empty], capture_output=True, text=True)
        check("without aperture.csv: status 1 and a message",
              run.returncode == 1 and "aperture.csv cannot be read" in run.stderr)
        check("without aperture.csv: no picture", not os.path.exists(os.path.join(empty, "aperture.png")))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
