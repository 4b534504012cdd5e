"""Gated measurements of acquired data: at every point the amplitude inside a
gate and its time of flight (the position of the detection along the sample
axis), as velfile.plot, the command line and the viewer show them.

    import velfile, velfile.analysis as va
    with velfile.open("inspection.A01") as f:
        data = f["0/Scan A"].data
        front = va.Gate(40, 40, detect="threshold", threshold=3000)
        m = va.measure(data, va.Gate(10, 100), interface=front)   # starts 10 samples after the front wall
        m.amplitude, m.position                                    # (second, first), masked

A gate is a start and a width in samples and a detection: "peak", the
largest |sample| in the gate (its first sample when several are equal), or
"threshold", the first sample whose |sample| reaches the threshold (the
amplitude is still the gate's peak; a point whose gate never reaches it has
no position). With interface= the gate starts gate.start samples after the
interface gate's detection at each point, as an immersion or wedge scan
follows the front wall; where the interface gate detects nothing the point
has no measurement. envelope=True measures the magnitude of the analytic
signal (the samples taken as RF) instead of |sample|.

The source is a data group, a numpy array (second, first, sample) whose
points all have data, or an xarray.DataArray of those dims (its has_data
coordinate, when present, marks the points without data). Samples are read
in chunks of whole lines of at most CHUNK_BYTES, never all at once, and the
magnitude of a signed integer sample is exact (|-32768| is 32768).
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Callable, Optional, Tuple

import numpy as np

from ._axes import DIMS
from ._velfile import InvalidError, UnsupportedError

__all__ = ["Gate", "Measurement", "Cancelled", "Source", "measure", "gate_at", "magnitude", "envelope_of", "CHUNK_BYTES"]

#: A chunk read for a measurement holds at most this many bytes of samples.
CHUNK_BYTES = 4 << 20

DETECTIONS = ("peak", "threshold")


class Cancelled(Exception):
    """The caller's cancel() said stop: the measurement was given up."""


@dataclass(frozen=True)
class Gate:
    """A gate: samples start to start + width - 1, and how it detects."""

    start: int
    width: int
    detect: str = "peak"
    threshold: float = 0.0

    def __post_init__(self) -> None:
        if self.detect not in DETECTIONS:
            raise InvalidError(f"a gate detects the 'peak' or a 'threshold' crossing, not {self.detect!r}")
        if int(self.width) < 1:
            raise InvalidError(f"a gate is at least one sample wide, not {self.width}")
        if not np.isfinite(self.threshold) or self.threshold < 0:
            raise InvalidError(f"a threshold is a magnitude, zero or more, not {self.threshold}")


@dataclass
class Measurement:
    """What a gate measured at every point, shape (second, first): the
    amplitude (float64) and the position of the detection (a sample index,
    float64), both masked where the point has no data or nothing was
    detected (the amplitude is masked only where there is no gate)."""

    gate: Gate
    amplitude: np.ma.MaskedArray
    position: np.ma.MaskedArray


def gate_at(axis: np.ndarray, start: float, width: float, **detection: Any) -> Gate:
    """The gate holding the samples whose coordinate on axis (the sample
    axis's coordinates) lies in [start, start + width]."""
    low, high = sorted((float(start), float(start) + float(width)))
    inside = np.nonzero((axis >= low) & (axis <= high))[0]
    if inside.size == 0:
        raise IndexError(f"a gate from {low:g} to {high:g} holds no sample (the sample axis runs from "
                         f"{axis.min(initial=0):g} to {axis.max(initial=0):g})")
    return Gate(int(inside[0]), int(inside[-1]) - int(inside[0]) + 1, **detection)


def magnitude(samples: np.ndarray) -> np.ndarray:
    """|sample| without widening: a signed integer's magnitude is read as the
    unsigned integer of its size, so the most negative value stays exact."""
    out = np.abs(samples)
    if samples.dtype.kind == "i":
        return out.view(np.dtype(f"u{samples.dtype.itemsize}"))
    return out


def envelope_of(samples: np.ndarray) -> np.ndarray:
    """The magnitude of the analytic signal along the last axis (float32):
    the envelope of RF samples."""
    n = samples.shape[-1]
    if n < 2:
        return np.abs(samples).astype(np.float32)
    spectrum = np.fft.rfft(samples.astype(np.float32), axis=-1)
    weights = np.full(spectrum.shape[-1], 2.0, np.float32)
    weights[0] = 1.0
    if n % 2 == 0:
        weights[-1] = 1.0
    # The analytic signal: the positive frequencies doubled, the negative dropped.
    full = np.zeros(samples.shape[:-1] + (n,), np.complex64)
    full[..., :spectrum.shape[-1]] = spectrum * weights
    return np.abs(np.fft.ifft(full, axis=-1)).astype(np.float32)


class Source:
    """One interface over a data group, a numpy array (second, first,
    sample) and an xarray.DataArray of those dims: name, shape, dtype, the
    coordinates of each axis (second, first, sample: a data group's own,
    a DataArray's coordinates, else indices) and read(key) -> (samples,
    has_data) for a key of the three axes."""

    def __init__(self, source: Any) -> None:
        self.source = source
        self.group = None
        has = None
        coords: dict = {}
        if hasattr(source, "read") and hasattr(source, "data_class"):  # a data group
            if source.data_class == 10:
                raise UnsupportedError(f"'{source.group.path}' holds variable records (data class 10), "
                                       "not an array of samples")
            self.group, self.name, values = source, source.group.path, source
            coords = {d: getattr(source.axes, d) for d in DIMS}
        else:
            self.name = "array"
            if hasattr(source, "dims") and hasattr(source, "coords"):  # an xarray.DataArray
                if set(source.dims) != set(DIMS):
                    raise InvalidError(f"a DataArray of samples has the dims {DIMS}, not {tuple(source.dims)}")
                source = source.transpose(*DIMS)
                coords = {d: np.asarray(source.coords[d].values, float) for d in DIMS if d in source.coords}
                if "has_data" in source.coords:
                    has = np.asarray(source.coords["has_data"].values, bool)
                self.name = str(source.name) if source.name is not None else self.name
                source = source.data
            values = source if hasattr(source, "shape") and hasattr(source, "dtype") else np.asarray(source)
            if len(values.shape) != 3:
                raise InvalidError(f"samples have the shape (second, first, sample), not {values.shape}")
        self.values = values
        self.shape: Tuple[int, int, int] = tuple(int(n) for n in values.shape)  # type: ignore[assignment]
        self.dtype = np.dtype(values.dtype)
        self.has = np.ones(self.shape[:2], bool) if has is None else has
        self.second, self.first, self.sample = (coords.get(d, np.arange(n, dtype=float))
                                                for d, n in zip(DIMS, self.shape))

    @property
    def axes(self) -> "Source":
        """The coordinates by axis name, as a data group's axes."""
        return self

    def read(self, key: Tuple[Any, Any, Any]) -> Tuple[np.ndarray, np.ndarray]:
        if self.group is not None:
            samples, markers = self.group.read(key)
            return samples, markers >= 3
        return np.asarray(self.values[key]), self.has[key[:2]]


def _detect(mag: np.ndarray, gate: Gate,
            valid: Optional[np.ndarray] = None) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Amplitude, position within mag's last axis, and whether detected."""
    if valid is not None:
        mag = np.where(valid, mag, 0)
    at = mag.argmax(axis=-1)
    amplitude = np.take_along_axis(mag, at[..., None], axis=-1)[..., 0].astype(np.float64)
    if gate.detect == "peak":
        return amplitude, at, np.ones(at.shape, bool)
    hit = mag >= gate.threshold
    if valid is not None:
        hit &= valid
    first = hit.argmax(axis=-1)
    return amplitude, first, np.take_along_axis(hit, first[..., None], axis=-1)[..., 0]


def _range(gate: Gate, n: int) -> Tuple[int, int]:
    start, stop = int(gate.start), int(gate.start) + int(gate.width)
    if not 0 <= start < n or stop > n:
        raise IndexError(f"gate {start}:{stop} is not a range of the {n} samples of each point")
    return start, stop


def measure(source: Any, gate: Gate, *, interface: Optional[Gate] = None, envelope: bool = False,
            chunk_bytes: int = 0, cancel: Optional[Callable[[], bool]] = None) -> Measurement:
    """Measures gate at every point of source (see the module's help); with
    interface=, gate starts gate.start samples after the interface gate's
    detection. chunk_bytes bounds the samples of one read (CHUNK_BYTES by
    default). cancel(), when given, is asked between chunks and raises
    Cancelled when it answers True."""
    src = source if isinstance(source, Source) else Source(source)
    seconds, firsts, n = src.shape
    if interface is None:
        low, high = _range(gate, n)
    else:
        i_low, i_high = _range(interface, n)
        # Where the triggered gate can lie, whatever the interface detects.
        low = max(0, min(i_low, i_low + gate.start))
        high = min(n, max(i_high, i_high - 1 + gate.start + gate.width))
        if i_high - 1 + gate.start + gate.width <= 0 or i_low + gate.start >= n:
            raise IndexError(f"a gate {gate.start} samples after the interface gate {i_low}:{i_high} lies outside "
                             f"the {n} samples of each point")
    if envelope:
        low, high = 0, n  # the envelope of the whole A-scan, without edge effects at the gate
    line_bytes = max(1, firsts * (high - low) * max(src.dtype.itemsize, 4 if envelope else 1))
    step = max(1, (chunk_bytes or CHUNK_BYTES) // line_bytes)
    amplitude = np.zeros((seconds, firsts))
    position = np.zeros((seconds, firsts))
    no_amplitude = np.zeros((seconds, firsts), bool)
    no_position = np.zeros((seconds, firsts), bool)
    for s in range(0, seconds, step):
        if cancel is not None and cancel():
            raise Cancelled("the measurement was given up")
        lines = slice(s, s + step)
        samples, has = src.read((lines, slice(None), slice(low, high)))
        mag = envelope_of(samples) if envelope else magnitude(samples)
        if interface is None:
            a, at, found = _detect(mag[..., gate.start - low:gate.start - low + gate.width], gate)
            at = at + gate.start
            gated = np.ones(found.shape, bool)
        else:
            ia, iat, ifound = _detect(mag[..., i_low - low:i_high - low], interface)
            begin = iat + i_low + gate.start  # the triggered gate's first sample at each point
            index = begin[..., None] + np.arange(gate.width)
            valid = (index >= 0) & (index < n)
            window = np.take_along_axis(mag, np.clip(index, low, high - 1) - low, axis=-1)
            a, at, found = _detect(window, gate, valid)
            gated = ifound & valid.any(axis=-1)
            at = at + begin
        amplitude[lines], position[lines] = a, at
        no_amplitude[lines] = ~has | ~gated
        no_position[lines] = ~has | ~gated | ~found
    return Measurement(gate, np.ma.masked_array(amplitude, no_amplitude), np.ma.masked_array(position, no_position))
