"""Data groups as xarray DataArrays: one group read at once (to_xarray),
and the same group of many files read lazily through dask (open_many).

open_many's task graph holds only paths: each chunk's task opens its file,
reads its part through the layer's ranged read and closes the file, so the
graph pickles to worker processes and a campaign of any number of files
holds at most one file open per running task. Readers share a file, with
each other and with a writer adding a section to it, so no task waits for
another."""
from __future__ import annotations

import itertools
import os
from typing import TYPE_CHECKING, Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from . import _api
from ._axes import DIMS, LABELS, check_plain, units
from ._velfile import InvalidError

if TYPE_CHECKING:
    import xarray

Chunks = Union[None, int, Mapping[str, int]]


def _coords(data: Any, given: Optional[Mapping[str, str]] = None) -> Dict[str, Any]:
    unit_of = units(data, given)
    return {name: (name, values, dict(long_name=LABELS[name], **({"units": unit_of[name]} if unit_of[name] else {})))
            for name, values in zip(DIMS, data.axes)}


def _attr(value: Any) -> Any:
    """A descriptor field as an attribute that every netCDF format holds:
    integers within int32 as such, others (4294967295, the unsigned fields'
    "not set") as float64, which holds them exactly; flags as 0 or 1; lists
    (the depth table) as float64 arrays."""
    if isinstance(value, bool):
        return np.int32(value)
    if isinstance(value, (int, np.integer)):
        return np.int32(value) if -2**31 <= int(value) < 2**31 else np.float64(value)
    if isinstance(value, (list, tuple)):
        return np.asarray(value, dtype=np.float64)
    return value


def _attrs(descriptor: Mapping[str, Any]) -> Dict[str, Any]:
    """Descriptor fields as attributes, by their field names."""
    return {k: _attr(v) for k, v in descriptor.items() if v is not None}


def to_xarray(data: Any, units_of: Optional[Mapping[str, str]] = None) -> "xarray.DataArray":
    """The data group as an xarray.DataArray of dims (second, first, sample):
    the samples in their own dtype, each axis's coordinates (offset + index
    x factor, in decimal) with a long_name and the units the caller names
    (units_of, as in velfile.plot), the has-data mask as the coordinate
    has_data (so that .where(has_data) sets the points without data to NaN),
    the descriptor's fields as attributes that netCDF files hold, and the
    unit of the values as attrs['units']."""
    import xarray as xr

    check_plain(data)
    samples, markers = data.read()
    coords = _coords(data, units_of)
    coords["has_data"] = (DIMS[:2], markers >= 3, {"long_name": "the point has data"})
    attrs = _attrs(data.descriptor)
    attrs["units"] = units(data, units_of)["value"]
    return xr.DataArray(samples, dims=DIMS, coords=coords, attrs=attrs, name=data.group.name)


# --- many files ---


class _Layout:
    """What open_many reads up front from each file."""

    def __init__(self, path: str, group: str) -> None:
        with _api.open(path) as f:
            data = f[group].data
            check_plain(data)
            self.shape = data.shape
            self.dtype = data.dtype
            self.coords = _coords(data)  # checks the counts against the data first
            self.axes = tuple(tuple(axis) for axis in data._d.axes())  # count, factor, offset
            self.units = units(data)["value"]
            self.name = data.group.name

    def differs(self, other: "_Layout") -> Optional[str]:
        if self.shape != other.shape:
            return f"shape {other.shape}, not {self.shape}"
        if self.dtype != other.dtype:
            return f"samples of {other.dtype}, not {self.dtype}"
        for dim, a, b in zip(DIMS, self.axes, other.axes):
            if a != b:
                return f"a {dim} axis of {b[0]} x {b[1]:g} from {b[2]:g}, not {a[0]} x {a[1]:g} from {a[2]:g}"
        return None


def _read_block(paths: Tuple[str, ...], group: str, second: Tuple[int, int], first: Tuple[int, int],
                sample: Tuple[int, int], markers: bool) -> np.ndarray:
    """One chunk: the part of each file, read and closed in turn (the samples,
    or with markers=True the has-data mask)."""
    out = []
    for path in paths:
        with _api.open(path) as f:
            keys = (slice(*second), slice(*first), slice(*sample) if not markers else slice(0, 0))
            samples, marks = f[group].data.read(keys)
            out.append(marks >= 3 if markers else samples)
    return np.stack(out)


def _splits(n: int, size: int) -> List[Tuple[int, int]]:
    size = n if size is None or size <= 0 else size
    return [(i, min(i + size, n)) for i in range(0, n, size)] or [(0, 0)]


def _chunk_sizes(chunks: Chunks, shape: Tuple[int, ...], itemsize: int) -> Dict[str, int]:
    """Chunk sizes by dim: the caller's, else one file per chunk and as many
    whole lines of second points as fit in 64 MiB."""
    if isinstance(chunks, int):
        chunks = {"second": chunks}
    sizes = {"file": 1, "second": 0, "first": 0, "sample": 0}
    line = max(1, shape[1] * shape[2] * itemsize)
    sizes["second"] = max(1, (64 << 20) // line)
    for dim, size in (chunks or {}).items():
        if dim not in sizes:
            raise InvalidError(f"chunks names {dim!r}; the dims are file, second, first and sample")
        sizes[dim] = int(size)
    return sizes


def _lazy(name: str, paths: Sequence[str], group: str, split: Dict[str, List[Tuple[int, int]]], dtype: np.dtype,
          markers: bool) -> Any:
    import dask.array as da

    dims = ("file", "second", "first") + (() if markers else ("sample",))
    graph = {}
    for index in itertools.product(*(range(len(split[d])) for d in dims)):
        ranges = [split[d][i] for d, i in zip(dims, index)]
        files = tuple(paths[ranges[0][0]:ranges[0][1]])
        graph[(name,) + index] = (_read_block, files, group, ranges[1], ranges[2],
                                  ranges[3] if not markers else (0, 0), markers)
    chunks = tuple(tuple(b - a for a, b in split[d]) for d in dims)
    return da.Array(graph, name, chunks=chunks, dtype=dtype)


def open_many(paths: Sequence[Union[str, "os.PathLike[str]"]], group: str,
              chunks: Chunks = None) -> "xarray.DataArray":
    """The data group at path group of many files as one lazy xarray.DataArray
    of dims (file, second, first, sample), backed by dask.

    The descriptors are read now: every file must have the same shape, sample
    type and axes as the first, else InvalidError names the file that
    differs; a file that cannot be opened, is damaged or lacks the group
    raises the package's error, which names it. The samples and the
    has_data coordinate (file, second, first) are read when computed, one
    task per chunk, each opening its files in turn. chunks: chunk sizes by
    dim ({'file': 1, 'second': 16}), or an int for 'second'; by default one
    file per chunk and whole lines up to 64 MiB. The graph holds only paths,
    so it runs on a dask.distributed cluster of worker processes as well.
    """
    import dask.base
    import xarray as xr

    paths = [os.fspath(p) for p in paths]
    if not paths:
        raise InvalidError("open_many takes at least one path")
    layout = _Layout(paths[0], group)
    for path in paths[1:]:
        why = layout.differs(_Layout(path, group))
        if why:
            raise InvalidError(f"'{path}': group '{group}' has {why} as '{paths[0]}' has")
    sizes = _chunk_sizes(chunks, layout.shape, layout.dtype.itemsize)
    split = {"file": _splits(len(paths), sizes["file"])}
    split.update({d: _splits(n, sizes[d]) for d, n in zip(DIMS, layout.shape)})
    token = dask.base.tokenize(paths, group, sizes, [os.stat(p).st_mtime_ns for p in paths])
    samples = _lazy(f"velfile-{token}", paths, group, split, layout.dtype, False)
    mask = _lazy(f"velfile-has-data-{token}", paths, group, split, np.dtype(bool), True)
    coords = dict(layout.coords, file=("file", paths), has_data=(("file", "second", "first"), mask))
    return xr.DataArray(samples, dims=("file",) + DIMS, coords=coords, name=layout.name,
                        attrs={"group": group, "units": layout.units})
