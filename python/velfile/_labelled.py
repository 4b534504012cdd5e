"""Data groups as xarray DataArrays: one group read at once (to_xarray),
and the same group of many files read lazily through dask (open_many).

open_many's task graph holds only paths: each chunk's task opens its file,
reads its part through the layer's ranged read and closes the file, so the
graph pickles to worker processes and a campaign of any number of files
holds at most one file open per running task. Readers share a file, with
each other and with a writer adding a section to it, so no task waits for
another."""
from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from . import _api
from ._axes import DIMS, LABELS, check_plain, units
from ._velfile import InvalidError, NotFoundError

if TYPE_CHECKING:
    import xarray

Chunks = Union[None, int, Mapping[str, int]]

#: The item that makes a group a data group: its data class.
DATA_CLASS_ITEM = 10400


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


def labels(data: Any, units_of: Optional[Mapping[str, str]] = None) -> Tuple[Dict[str, Any], Dict[str, Any]]:
    """The coordinates of a data group's axes and its attributes (the
    descriptor's fields that netCDF files hold, and the unit of the values as
    'units'), for to_xarray and xarray's engine alike."""
    check_plain(data)
    coords = _coords(data, units_of)
    attrs = _attrs(data.descriptor)
    attrs["units"] = units(data, units_of)["value"]
    return coords, attrs


def only_data_group(f: Any) -> str:
    """The path of a file's one data group; InvalidError listing them when it
    has several, NotFoundError when it has none."""
    found = []
    f.visititems(lambda name, group: found.append(group.path) if DATA_CLASS_ITEM in group else None)
    if len(found) == 1:
        return found[0]
    if not found:
        raise NotFoundError(f"'{f.path}' has no data group")
    raise InvalidError(f"'{f.path}' has {len(found)} data groups; name one with group=: " +
                       ", ".join(repr(p) for p in found))


def to_xarray(data: Any, units_of: Optional[Mapping[str, str]] = None) -> "xarray.DataArray":
    """The data group as an xarray.DataArray of dims (second, first, sample):
    the samples in their own dtype, each axis's coordinates (offset + index
    x factor, in decimal) with a long_name and the units the caller names
    (units_of, as in velfile.plot), the has-data mask as the coordinate
    has_data (so that .where(has_data) sets the points without data to NaN),
    the descriptor's fields as attributes that netCDF files hold, and the
    unit of the values as attrs['units']."""
    import xarray as xr

    coords, attrs = labels(data, units_of)
    samples, markers = data.read()
    coords["has_data"] = (DIMS[:2], markers >= 3, {"long_name": "the point has data"})
    return xr.DataArray(samples, dims=DIMS, coords=coords, attrs=attrs, name=data.group.name)


# --- many files ---


def _differs(first: Any, other: Any) -> Optional[str]:
    """How a file's Dataset differs from the first's in shape, sample type or
    axes; None when it does not."""
    a, b = first["samples"], other["samples"]
    if a.shape != b.shape:
        return f"shape {b.shape}, not {a.shape}"
    if a.dtype != b.dtype:
        return f"samples of {b.dtype}, not {a.dtype}"
    for dim in DIMS:
        x, y = first[dim].values, other[dim].values
        if not np.array_equal(x, y):
            def text(c: np.ndarray) -> str:
                return f"{c.size} points from {c[0]:g} by {c[1] - c[0] if c.size > 1 else 0:g}" if c.size else "none"
            return f"a {dim} axis of {text(y)}, not {text(x)}"
    return None


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


def open_many(paths: Sequence[Any], group: str, chunks: Chunks = None, **options: Any) -> "xarray.DataArray":
    """The data group at path group of many files as one lazy xarray.DataArray
    of dims (file, second, first, sample), backed by dask: the samples of
    xarray.open_mfdataset(paths, engine="velfile", group=group,
    combine="nested", concat_dim="file").

    Paths may be fsspec URLs (options: storage_options=, block_size=, as
    velfile.open takes them). The descriptors are read now: every file must
    have the same shape, sample type and axes as the first, else
    InvalidError names the file that differs; a file that cannot be opened,
    is damaged or lacks the group raises the package's error, which names
    it. The samples are read when computed, one task per chunk, each opening
    its file, reading its part and closing it; has_data (file, second,
    first) is read now. chunks: chunk sizes by dim ({'file': 1, 'second':
    16}), or an int for 'second'; by default one file per chunk and whole
    lines up to 64 MiB. The graph holds only paths, so it runs on a
    dask.distributed cluster of worker processes as well.
    """
    import xarray as xr

    from .xarray_backend import VelfileBackendEntrypoint as engine

    paths = [os.fspath(p) for p in paths]
    if not paths:
        raise InvalidError("open_many takes at least one path")
    first: List[Any] = []
    sizes: Dict[str, int] = {}

    def check(ds: Any) -> Any:
        if not first:
            first.append(ds)
            sizes.update(_chunk_sizes(chunks, ds["samples"].shape, ds["samples"].dtype.itemsize))
        why = _differs(first[0], ds)
        if why:
            raise InvalidError(f"'{ds.encoding['source']}': group '{group}' has {why} as '{paths[0]}' has")
        return ds.assign_coords(file=ds.encoding["source"])

    probe = xr.open_dataset(paths[0], engine=engine, group=group, **options)
    check(probe)
    ds = xr.open_mfdataset(paths, engine=engine, group=group, combine="nested", concat_dim="file",
                           coords=["has_data"], chunks={d: sizes[d] for d in DIMS}, preprocess=check, **options)
    samples = ds["samples"]
    if sizes["file"] > 1:
        samples = samples.chunk({"file": sizes["file"]})
    samples = samples.assign_coords(file=("file", paths))
    samples.name = samples.attrs.pop("long_name", None)
    samples.attrs = {"group": group, "units": samples.attrs.get("units")}
    return samples
