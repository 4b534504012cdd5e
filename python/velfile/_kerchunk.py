"""A data group as zarr without conversion: references (version 1 of the
kerchunk format) that fsspec's ReferenceFileSystem reads, whose chunks are
byte ranges of the container file itself::

    refs = velfile.references("scan.A01", group="0/Scan A")
    ds = xarray.open_dataset("reference://", engine="zarr",
                             backend_kwargs={"consolidated": False, "storage_options": {"fo": refs}})

The zarr group holds "samples" (second, first, sample) in the section's byte
order, and beside it the small arrays "has_data" and the three axes'
coordinates, inline. zarr's chunks form a regular grid: a block class, and a
class 1 group whose every line of points with data has its records evenly
spaced and back to back, give one line of points per chunk; any other class 1
group one point per chunk. A point (or line) without data is a missing
chunk, read as the fill value 0, as velfile reads it (or inline zeros:
see references()). Class 10 (variable
records) has no array of samples and is refused (UnsupportedError).
"""
from __future__ import annotations

import base64
import json
import os
from typing import Any, Dict, Optional

import numpy as np

from . import _velfile
from ._axes import DIMS
from ._labelled import labels, only_data_group


def _json(value: Any) -> Any:
    if isinstance(value, np.ndarray):
        return value.tolist()
    if isinstance(value, np.generic):
        return value.item()
    return value


def _inline(refs: Dict[str, Any], name: str, array: np.ndarray, dims: tuple, attrs: Dict[str, Any]) -> None:
    array = np.ascontiguousarray(array)
    refs[f"{name}/.zarray"] = json.dumps({
        "zarr_format": 2, "shape": list(array.shape), "chunks": list(array.shape) or [1],
        "dtype": array.dtype.str, "compressor": None, "filters": None, "fill_value": None, "order": "C"})
    refs[f"{name}/.zattrs"] = json.dumps(dict({k: _json(v) for k, v in attrs.items()}, _ARRAY_DIMENSIONS=list(dims)))
    key = ".".join("0" * len(array.shape)) or "0"
    refs[f"{name}/{key}"] = "base64:" + base64.b64encode(array.tobytes()).decode("ascii")


def _chunks(data: Any, url: str, shape: tuple, itemsize: int) -> tuple:
    """The chunk shape and the references of the samples' chunks."""
    seconds, firsts, q = shape
    record = q * itemsize
    if data.data_class != 1:
        offset, _, _ = data._d.block()
        line = firsts * record
        return (1, firsts, q), {f"samples/{s}.0.0": [url, offset + s * line, line] for s in range(seconds)}
    offsets = _velfile._record_offsets(data._d).reshape(seconds, firsts).astype(np.int64)
    present = offsets >= 3
    if record and firsts:
        even = (offsets[:, 1:] - offsets[:, :-1] == record).all(axis=1) if firsts > 1 else np.ones(seconds, bool)
        whole = present.all(axis=1)
        if ((whole & even) | ~present.any(axis=1)).all():
            return (1, firsts, q), {f"samples/{s}.0.0": [url, int(offsets[s, 0]), firsts * record]
                                    for s in range(seconds) if whole[s]}
    return (1, 1, q), {f"samples/{s}.{f}.0": [url, int(offsets[s, f]), record]
                       for s, f in zip(*np.nonzero(present))}


def _fill_missing(refs: Dict[str, Any], shape: tuple, chunks: tuple, itemsize: int) -> None:
    """Every chunk without data as inline zeros (see references())."""
    zeros = "base64:" + base64.b64encode(bytes(int(np.prod(chunks)) * itemsize)).decode("ascii")
    for s in range(shape[0]):
        for f in range(shape[1] // chunks[1] if chunks[1] else 0):
            refs.setdefault(f"samples/{s}.{f}.0", zeros)


def references(path: Any, group: Optional[str] = None, url: Optional[str] = None, missing: bool = False,
               **options: Any) -> Dict[str, Any]:
    """The kerchunk (version 1) references of a data group: a dict with
    "version": 1 and "refs". path: the file (a path, or a URL or file
    object as velfile.open takes them, with its options); group: the data
    group's path (by default the file's only one); url: the name the
    references give the file's bytes (by default path, made absolute when
    local).

    missing=True leaves the chunks of points without data out, as zarr
    reads missing chunks as the fill value 0 (which xarray then takes for
    its _FillValue: open with mask_and_scale=False); by default they are inline
    chunks of zeros, as Debian's fsspec (2022.11) fails a read that meets a
    missing reference instead of passing it on to zarr as missing.
    """
    from ._api import open as open_file

    if url is None:
        url = path if isinstance(path, str) and "://" in path else os.path.abspath(os.fspath(path))
    with open_file(path, **options) as f:
        group = group if group is not None else only_data_group(f)
        data = f[group].data
        coords, attrs = labels(data)  # refuses class 10
        shape = data.shape
        order = "<" if data.group.section.byte_order == "little" else ">"
        dtype = data.dtype.newbyteorder(order) if data.dtype.itemsize > 1 else data.dtype
        chunks, refs = _chunks(data, url, shape, dtype.itemsize)
        has_data, name = data.has_data, data.group.name
    out: Dict[str, Any] = {".zgroup": json.dumps({"zarr_format": 2}),
                           ".zattrs": json.dumps({"group": group})}
    out["samples/.zarray"] = json.dumps({
        "zarr_format": 2, "shape": list(shape), "chunks": list(chunks), "dtype": dtype.str,
        "compressor": None, "filters": None, "fill_value": 0 if missing else None, "order": "C"})
    out["samples/.zattrs"] = json.dumps(dict({k: _json(v) for k, v in attrs.items()},
                                             long_name=name, coordinates="has_data",
                                             _ARRAY_DIMENSIONS=list(DIMS)))
    if not missing and shape[2]:
        _fill_missing(refs, shape, chunks, dtype.itemsize)
    out.update(refs)
    _inline(out, "has_data", has_data, DIMS[:2], {"long_name": "the point has data"})
    for dim in DIMS:
        _, values, dim_attrs = coords[dim]
        _inline(out, dim, np.asarray(values, dtype=np.float64), (dim,), dim_attrs)
    return {"version": 1, "refs": out}
