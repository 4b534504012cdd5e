"""What the pictures, the labelled arrays and the export share about a data
group: the names of its axes, their labels and units, its gates as ranges of
samples, and its C-scan (the peak of |sample| inside a gate, measured by
velfile.analysis over bounded chunks)."""
from __future__ import annotations

from typing import Any, Dict, Mapping, Optional, Tuple, Union

import numpy as np

from ._velfile import InvalidError, UnsupportedError

#: The dimensions of a data group, in the order of its arrays.
DIMS = ("second", "first", "sample")
#: How an axis is called when the caller names it not.
LABELS = {"second": "second axis", "first": "first axis", "sample": "sample axis", "value": "amplitude"}

#: Names of the unit codes of a data descriptor (item 10453) that the
#: library knows. The container format numbers them 0 to 8 without naming
#: them, so a unit is shown as its code unless the caller names it.
UNIT_NAMES: Dict[int, str] = {}

#: A gate: a range of sample indices (a slice or a range), or a pair of
#: coordinates on the sample axis (floats, in the axis's own units).
Gate = Union[slice, range, Tuple[float, float], None]


def shortest(value: float) -> str:
    """A float32 value of the file by its shortest decimal form: the fewest
    digits that read back as the same float32 (2.98, not
    2.9800000190734863)."""
    return np.format_float_positional(np.float32(value), unique=True, trim="-")


def stored(value: float) -> float:
    """The decimal a writer meant by a stored float32: its shortest form."""
    return float(shortest(value))


def coordinates(count: int, factor: float, offset: float) -> np.ndarray:
    """The coordinates of an axis, offset + index x factor, computed in
    decimal. A file stores factor and offset as float32, so 0.02 arrives as
    0.0199999996; computed in float64 from that, sample 50 would lie at
    0.99999998, beside the 1.0 its writer meant. Instead the factor and the
    offset are taken as the shortest decimals that round to them (0.02), and
    each coordinate is rounded to the decimal places those two have: the
    float64 nearest to the exact decimal result, so that 1.0, 0.06 or 0.3
    are found as typed (.sel(sample=1.0), gates, titles)."""
    f, o = shortest(factor), shortest(offset)
    places = max(len(t.partition(".")[2]) for t in (f, o))
    values = float(o) + float(f) * np.arange(count, dtype=np.float64)
    return np.round(values, places) if places else values


def check_plain(data: Any) -> None:
    """Refuses class 10 (variable records), which has no array of samples."""
    if data.data_class == 10:
        raise UnsupportedError(f"'{data.group.path}' holds variable records (data class 10), not an array of samples")


def units(data: Any, given: Optional[Mapping[str, str]] = None) -> Dict[str, Optional[str]]:
    """The unit of each axis ('second', 'first', 'sample') and of the values
    ('value'): the caller's where given, else the name of the descriptor's
    unit code for the values (its code when the library knows no name), and
    none for the point and sample axes, whose units no descriptor field
    gives."""
    code = data.group.descriptor("data").get("dataUnits", 0)
    out: Dict[str, Optional[str]] = {"second": None, "first": None, "sample": None,
                                     "value": UNIT_NAMES.get(code, f"unit code {code}")}
    out.update(given or {})
    return out


def label(name: str, labels: Optional[Mapping[str, str]], unit_of: Mapping[str, Optional[str]]) -> str:
    """An axis's label with its unit, as the caller or LABELS name it."""
    text = (labels or {}).get(name, LABELS[name])
    return f"{text} [{unit_of[name]}]" if unit_of.get(name) else text


def gate_range(data: Any, gate: Gate) -> Tuple[int, int]:
    """The gate as a range of sample indices [start, stop), within the data.
    A slice or range gives indices; a pair of numbers gives coordinates on
    the sample axis, and the gate holds the samples whose coordinate lies in
    it (ends included)."""
    n = data.shape[2]
    if gate is None:
        start, stop = 0, n
    elif isinstance(gate, (slice, range)):
        if gate.step not in (None, 1):
            raise InvalidError("a gate is a range of samples without a step")
        start, stop, _ = slice(gate.start, gate.stop).indices(n)
        if (gate.start is not None and not -n <= gate.start < n) or (gate.stop is not None and gate.stop > n):
            raise IndexError(f"gate {gate.start}:{gate.stop} lies outside the {n} samples of each point")
    else:
        low, high = sorted(float(x) for x in gate)
        coords = data.axes.sample
        inside = np.nonzero((coords >= low) & (coords <= high))[0]
        if inside.size == 0:
            raise IndexError(f"gate {low:g} to {high:g} holds no sample (the sample axis runs from "
                             f"{coords.min(initial=0):g} to {coords.max(initial=0):g})")
        start, stop = int(inside[0]), int(inside[-1]) + 1
    if stop <= start:
        raise IndexError(f"gate {start}:{stop} holds no sample")
    return start, stop


def cscan_values(data: Any, gate: Gate = None) -> np.ma.MaskedArray:
    """The C-scan of a data group: the peak of |sample| inside the gate at
    each point, shape (second, first), the points without data masked (see
    velfile.analysis.measure, which reads it in bounded chunks)."""
    from . import analysis

    check_plain(data)
    start, stop = gate_range(data, gate)
    return analysis.measure(data, analysis.Gate(start, stop - start)).amplitude
