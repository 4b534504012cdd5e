"""Pictures of acquired data with matplotlib: A-scans, B-scans and C-scans.

    import velfile, velfile.plot
    with velfile.open("inspection.A01") as f:
        data = f["0/Scan A"].data
        ax = velfile.plot.cscan(data, gate=slice(0, 16))    # or gate=(0.0, 0.15) on the sample axis
        ax.figure.savefig("cscan.png", dpi=100)
        velfile.plot.bscan(data, line=80).figure.savefig("bscan.png")
        velfile.plot.ascan(data, (80, 60))

Axes are in the data's own coordinates (each axis's offset + index x factor).
Points without data are masked: drawn in the colour map's "bad" colour
(light grey), never as zeros. Without ax= a function draws on a new
matplotlib Figure of its own (no pyplot, so no window and no display are
needed); pass ax=plt.gca() to draw into a pyplot figure. Texts from the file
are shown as they are: a '$' in a group name is not read as mathtext.

labels= and units= name the axes ('second', 'first', 'sample') and the
values ('value') where the defaults do not serve: the library names the
unit of the values by its code (UNIT_NAMES holds the names it knows) and
knows no unit for the point and sample axes.
"""
from __future__ import annotations

import os
import sys
from typing import Any, Mapping, Optional, Tuple

import numpy as np

import matplotlib

if (sys.platform.startswith("linux") and not os.environ.get("DISPLAY") and not os.environ.get("WAYLAND_DISPLAY")
        and "matplotlib.pyplot" not in sys.modules and not os.environ.get("MPLBACKEND")):
    matplotlib.use("Agg")  # no display: draw into files only

from matplotlib.axes import Axes
from matplotlib.colors import Colormap
from matplotlib.figure import Figure

from ._axes import UNIT_NAMES, Gate, check_plain, cscan_values, gate_range, label
from ._axes import units as units_of
from ._velfile import InvalidError

__all__ = ["ascan", "bscan", "cscan", "cscan_values", "escape", "UNIT_NAMES"]

#: The colour of points without data.
NO_DATA_COLOUR = "#d0d0d0"

Names = Optional[Mapping[str, str]]


def escape(text: str) -> str:
    """Text from a file as matplotlib shows it literally: every '$' escaped,
    so that no pair of them starts mathtext."""
    return text.replace("$", r"\$")


def _axes(ax: Optional[Axes], size: Tuple[float, float]) -> Axes:
    return ax if ax is not None else Figure(figsize=size, layout="constrained").add_subplot()


def _cmap(name: str) -> Colormap:
    cmap = matplotlib.colormaps[name].copy()
    cmap.set_bad(NO_DATA_COLOUR)
    return cmap


def _edges(coords: np.ndarray) -> Tuple[float, float]:
    """The outer edges of pixels centred on evenly spaced coordinates."""
    if coords.size == 0:
        return 0.0, 1.0
    half = (coords[1] - coords[0]) / 2 if coords.size > 1 else 0.5
    return float(coords[0] - half), float(coords[-1] + half)


def _point(data: Any, point: Tuple[int, int]) -> Tuple[int, int]:
    seconds, firsts, _ = data.shape
    s, f = (int(x) for x in point)
    if not (0 <= s < seconds and 0 <= f < firsts):
        raise IndexError(f"point ({s}, {f}) lies outside the {seconds} x {firsts} points of '{data.group.path}'")
    return s, f


def ascan(data: Any, point: Tuple[int, int], ax: Optional[Axes] = None, *, labels: Names = None,
          units: Names = None) -> Axes:
    """The waveform of one point (second index, first index) against the
    sample axis. A point without data draws no line and says so. Reads that
    point's samples only. Returns the Axes."""
    check_plain(data)
    s, f = _point(data, point)
    samples, markers = data.read((s, f, slice(None)))
    unit_of = units_of(data, units)
    ax = _axes(ax, (6.4, 3.6))
    axes = data.axes
    if markers >= 3:
        ax.plot(axes.sample, samples, linewidth=0.8)
    else:
        ax.text(0.5, 0.5, "no data at this point", transform=ax.transAxes, ha="center", va="center")
        ax.set_xlim(*_edges(axes.sample))
    ax.set_xlabel(label("sample", labels, unit_of))
    ax.set_ylabel(label("value", labels, unit_of))
    ax.set_title(f"{escape(data.group.path)}: A-scan at ({axes.second[s]:g}, {axes.first[f]:g})")
    return ax


def bscan(data: Any, line: int, axis: str = "first", ax: Optional[Axes] = None, *, labels: Names = None,
          units: Names = None, cmap: str = "viridis") -> Axes:
    """One line of points as an image: position along the line against the
    sample axis (downwards), colour the sample value. axis='first' takes the
    points along the first axis at second index line; axis='second' those
    along the second axis at first index line. Reads that line only."""
    check_plain(data)
    if axis not in ("first", "second"):
        raise InvalidError(f"a B-scan runs along the 'first' or the 'second' axis, not {axis!r}")
    across = "second" if axis == "first" else "first"
    count = data.shape[0 if across == "second" else 1]
    if not 0 <= line < count:
        raise IndexError(f"line {line} lies outside the {count} points of the {across} axis of '{data.group.path}'")
    key = (line, slice(None), slice(None)) if axis == "first" else (slice(None), line, slice(None))
    samples, markers = data.read(key)
    image = np.ma.masked_array(samples.T, np.broadcast_to(markers < 3, samples.T.shape))
    axes = data.axes
    along, depth = getattr(axes, axis), axes.sample
    unit_of = units_of(data, units)
    ax = _axes(ax, (6.4, 4.8))
    top, bottom = _edges(depth)
    shown = ax.imshow(image, cmap=_cmap(cmap), aspect="auto", interpolation="nearest", origin="upper",
                      extent=(*_edges(along), bottom, top))
    ax.figure.colorbar(shown, ax=ax, label=label("value", labels, unit_of))
    ax.set_xlabel(label(axis, labels, unit_of))
    ax.set_ylabel(label("sample", labels, unit_of))
    ax.set_title(f"{escape(data.group.path)}: B-scan at {across} {getattr(axes, across)[line]:g}")
    return ax


def cscan(data: Any, gate: Gate = None, ax: Optional[Axes] = None, *, labels: Names = None,
          units: Names = None, cmap: str = "viridis") -> Axes:
    """The peak of |sample| inside the gate at each point, over the scanned
    area: first axis across, second axis up. gate: a range of sample indices
    (slice(10, 40) or range(10, 40)), or a pair of coordinates on the sample
    axis ((0.1, 0.4)); None takes every sample. Streams over the data in
    bounded chunks (see cscan_values)."""
    values = cscan_values(data, gate)
    start, stop = gate_range(data, gate)
    axes = data.axes
    unit_of = units_of(data, units)
    ax = _axes(ax, (6.4, 5.2))
    shown = ax.imshow(values, cmap=_cmap(cmap), aspect="equal" if _square(axes) else "auto",
                      interpolation="nearest", origin="lower", extent=(*_edges(axes.first), *_edges(axes.second)))
    value = (labels or {}).get("value", "peak |amplitude|")
    ax.figure.colorbar(shown, ax=ax, label=label("value", {"value": value}, unit_of))
    ax.set_xlabel(label("first", labels, unit_of))
    ax.set_ylabel(label("second", labels, unit_of))
    sample = axes.sample
    ax.set_title(f"{escape(data.group.path)}: C-scan, gate {sample[start]:g} to {sample[stop - 1]:g}")
    return ax


def _square(axes: Any) -> bool:
    """Whether both point axes have the same step, so that pixels are square."""
    steps = [abs(a[1] - a[0]) if a.size > 1 else None for a in (axes.first, axes.second)]
    return None not in steps and np.isclose(steps[0], steps[1])
