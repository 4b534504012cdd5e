"""Pictures of acquired data with matplotlib: A-scans, B-scans and C-scans.

    import velfile, velfile.plot
    with velfile.open("inspection.A01") as f:
        data = f["0/Scan A"].data
        ax = velfile.plot.cscan(data, gate=slice(0, 16))    # or gate=(0.0, 0.15) on the sample axis
        ax.figure.savefig("cscan.png", dpi=100)
        velfile.plot.cscan(data, gate=slice(60, 200), kind="tof", detect="threshold", threshold=3000)
        velfile.plot.bscan(data, line=80).figure.savefig("bscan.png")
        velfile.plot.ascan(data, (80, 60))

Each function takes a data group, a numpy array (second, first, sample)
or an xarray.DataArray of those dims (its coordinates as axes, its has_data
coordinate marking the points without data). C-scans are measured by
velfile.analysis and drawn to scale (the same length per unit on both axes)
unless to_scale=False. Axes are in the data's own coordinates (each axis's
offset + index x factor; an array's indices).
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

from . import analysis
from ._axes import UNIT_NAMES, Gate, cscan_values, gate_range, label
from ._axes import units as units_of
from ._velfile import InvalidError

__all__ = ["ascan", "bscan", "cscan", "cscan_values", "escape", "KINDS", "UNIT_NAMES"]

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


def _scan(data: Any, units: Names) -> analysis.Source:
    """The source a picture draws (a data group, an array, a DataArray),
    with the units of its axes and values as unit_of."""
    scan = analysis.Source(data)
    scan.unit_of = (units_of(data, units) if scan.group is not None
                    else {"second": None, "first": None, "sample": None, "value": None, **(units or {})})
    return scan


def _point(scan: Any, point: Tuple[int, int]) -> Tuple[int, int]:
    seconds, firsts, _ = scan.shape
    s, f = (int(x) for x in point)
    if not (0 <= s < seconds and 0 <= f < firsts):
        raise IndexError(f"point ({s}, {f}) lies outside the {seconds} x {firsts} points of '{scan.name}'")
    return s, f


def ascan(data: Any, point: Tuple[int, int], ax: Optional[Axes] = None, *, labels: Names = None,
          units: Names = None) -> Axes:
    """The waveform of one point (second index, first index) against the
    sample axis. A point without data draws no line and says so. Reads that
    point's samples only. Returns the Axes."""
    scan = _scan(data, units)
    s, f = _point(scan, point)
    samples, has = scan.read((s, f, slice(None)))
    ax = _axes(ax, (6.4, 3.6))
    if has:
        ax.plot(scan.sample, samples, linewidth=0.8)
    else:
        ax.text(0.5, 0.5, "no data at this point", transform=ax.transAxes, ha="center", va="center")
        ax.set_xlim(*_edges(scan.sample))
    ax.set_xlabel(label("sample", labels, scan.unit_of))
    ax.set_ylabel(label("value", labels, scan.unit_of))
    ax.set_title(f"{escape(scan.name)}: A-scan at ({scan.second[s]:g}, {scan.first[f]:g})")
    return ax


def bscan(data: Any, line: int, axis: str = "first", ax: Optional[Axes] = None, *, labels: Names = None,
          units: Names = None, cmap: str = "viridis", vmin: Optional[float] = None,
          vmax: Optional[float] = None) -> Axes:
    """One line of points as an image: position along the line against the
    sample axis (downwards), colour the sample value. axis='first' takes the
    points along the first axis at second index line; axis='second' those
    along the second axis at first index line. Reads that line only."""
    scan = _scan(data, units)
    if axis not in ("first", "second"):
        raise InvalidError(f"a B-scan runs along the 'first' or the 'second' axis, not {axis!r}")
    across = "second" if axis == "first" else "first"
    count = scan.shape[0 if across == "second" else 1]
    if not 0 <= line < count:
        raise IndexError(f"line {line} lies outside the {count} points of the {across} axis of '{scan.name}'")
    key = (line, slice(None), slice(None)) if axis == "first" else (slice(None), line, slice(None))
    samples, has = scan.read(key)
    image = np.ma.masked_array(samples.T, np.broadcast_to(~has, samples.T.shape))
    along, depth = getattr(scan, axis), scan.sample
    ax = _axes(ax, (6.4, 4.8))
    top, bottom = _edges(depth)
    shown = ax.imshow(image, cmap=_cmap(cmap), aspect="auto", interpolation="nearest", origin="upper",
                      extent=(*_edges(along), bottom, top), vmin=vmin, vmax=vmax)
    ax.figure.colorbar(shown, ax=ax, label=label("value", labels, scan.unit_of))
    ax.set_xlabel(label(axis, labels, scan.unit_of))
    ax.set_ylabel(label("sample", labels, scan.unit_of))
    ax.set_title(f"{escape(scan.name)}: B-scan at {across} {getattr(scan, across)[line]:g}")
    return ax


#: What a C-scan shows: the gate's amplitude, or the time of flight of its
#: detection (its coordinate on the sample axis).
KINDS = ("amplitude", "tof")


def cscan(data: Any, gate: Gate = None, ax: Optional[Axes] = None, *, kind: str = "amplitude",
          detect: str = "peak", threshold: float = 0.0, interface: Optional[analysis.Gate] = None,
          envelope: bool = False, vmin: Optional[float] = None, vmax: Optional[float] = None,
          cmap: str = "viridis", db: Any = None, to_scale: bool = True, labels: Names = None,
          units: Names = None) -> Axes:
    """A C-scan over the scanned area, first axis across, second axis up:
    kind="amplitude", the peak of |sample| inside the gate at each point, or
    kind="tof", the time of flight of the gate's detection (detect="peak"
    or "threshold" with threshold=; interface= an analysis.Gate the gate
    starts from, envelope=True the envelope's; see velfile.analysis).
    gate: a range of sample indices (slice(10, 40) or range(10, 40)), or a
    pair of coordinates on the sample axis ((0.1, 0.4)); None takes every
    sample. db=True draws amplitudes in dB of their maximum, db=REF of REF;
    vmin and vmax bound the colour scale (in dB with db=). Streams over the
    data in bounded chunks."""
    if kind not in KINDS:
        raise InvalidError(f"a C-scan shows the {' or the '.join(KINDS)}, not {kind!r}")
    scan = _scan(data, units)
    n = scan.shape[2]
    if interface is None:
        start, stop = gate_range(scan, gate)
        where = f"gate {scan.sample[start]:g} to {scan.sample[stop - 1]:g}"
    elif isinstance(gate, (slice, range)) and gate.stop is not None and gate.step in (None, 1):
        start, stop = gate.start or 0, gate.stop
        where = f"gate {start} to {stop - 1} samples after the interface"
    else:
        raise InvalidError("with interface=, the gate is a slice of samples after the interface's detection")
    m = analysis.measure(scan, analysis.Gate(start, stop - start, detect, threshold), interface=interface,
                         envelope=envelope)
    if kind == "tof":
        values = np.ma.masked_array(np.interp(m.position.filled(0), np.arange(n), scan.sample), m.position.mask)
        value = (labels or {}).get("value", "time of flight")
        unit = scan.unit_of.get("sample")
    else:
        values = m.amplitude
        value = (labels or {}).get("value", "peak |amplitude|")
        unit = scan.unit_of.get("value")
        if db is not None and db is not False:
            reference = float(values.max()) if db is True else float(db)
            if not reference > 0:
                raise InvalidError(f"a dB scale needs a reference above 0, not {reference:g}")
            with np.errstate(divide="ignore"):
                values = 20 * np.log10(np.ma.masked_less_equal(values, 0) / reference)
            value, unit = f"{value} re {reference:g}", "dB"
    ax = _axes(ax, (6.4, 5.2))
    shown = ax.imshow(values, cmap=_cmap(cmap), aspect="equal" if to_scale else "auto", vmin=vmin, vmax=vmax,
                      interpolation="nearest", origin="lower", extent=(*_edges(scan.first), *_edges(scan.second)))
    ax.figure.colorbar(shown, ax=ax, label=label("value", {"value": value}, {"value": unit}))
    ax.set_xlabel(label("first", labels, scan.unit_of))
    ax.set_ylabel(label("second", labels, scan.unit_of))
    what = "C-scan" if kind == "amplitude" else "time-of-flight C-scan"
    ax.set_title(f"{escape(scan.name)}: {what}, {where}")
    return ax
