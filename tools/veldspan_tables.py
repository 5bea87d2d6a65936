"""What the plotting tools share: reading the program's CSV files and
writing a PNG whole. Imported by tools/plot_aperture, tools/plot_scan and
tools/fit_da, which find it beside them."""

import math
import os

import matplotlib.pyplot as plt


class Fail(Exception):
    """A refusal: its text is said on stderr and the tool exits 1."""


def read_lines(path):
    try:
        with open(path, newline=None) as f:
            return [line.rstrip("\n") for line in f]
    except OSError as e:
        raise Fail(f"{path} cannot be read: {e.strerror}")
    except UnicodeDecodeError:
        raise Fail(f"{path} is not a text file")


def figure(text, where):
    """A cell: None for "-", else a finite number."""
    if text == "-":
        return None
    try:
        value = float(text)
    except ValueError:
        raise Fail(f"{where}: {text!r} is not a number")
    if not math.isfinite(value):
        raise Fail(f"{where}: {text!r} is not a finite number")
    return value


def save(fig, png):
    """Written beside its place, then renamed over it: never half a file."""
    temporary = png + ".tmp"
    try:
        fig.savefig(temporary, format="png")
        os.replace(temporary, png)
    except OSError as e:
        raise Fail(f"{png} cannot be written: {e.strerror}")
    finally:
        plt.close(fig)
        if os.path.exists(temporary):
            os.remove(temporary)
