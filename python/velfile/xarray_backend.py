"""xarray's engine "velfile": xarray.open_dataset(path, engine="velfile",
group="0/Scan A") opens a data group as a Dataset, lazily.

The Dataset holds the variable "samples" (second, first, sample) over the
library's ranged reads: an index reads only its part, and chunks= gives a
dask array whose every task opens the file, reads its block and closes it
(so the graph holds only the file's name and pickles to worker processes);
a URL stays open in each process for its later tasks (the last 8 URLs), so
its metadata is fetched once a process.
The axes and has_data are coordinates, the descriptor's fields attributes of
"samples" (netCDF-safe, as DataGroup.to_xarray gives them). Without group:
the file's only data group; a file with several raises InvalidError listing
them. guess_can_open recognises a container by its first bytes, so
open_dataset(path) finds the engine by itself.

A file may be given by path, by an fsspec URL ("http://...", "memory://...")
or as a file object (read and seek), as velfile.open takes them.
"""
from __future__ import annotations

import os
import threading
from collections import OrderedDict
from typing import Any, Iterable, Optional, Tuple

import numpy as np
from xarray.backends import BackendArray, BackendEntrypoint
from xarray.core import indexing

from . import _labelled, _velfile
from ._axes import DIMS


def _source(filename_or_obj: Any) -> Any:
    return os.fspath(filename_or_obj) if isinstance(filename_or_obj, os.PathLike) else filename_or_obj


class SamplesArray(BackendArray):
    """A data group's samples, read by range each time they are indexed. It
    holds the file's name (or URL, or file object) and the group's path
    only."""

    def __init__(self, source: Any, group: str, shape: Tuple[int, int, int], dtype: np.dtype,
                 options: Optional[dict] = None, opened: Any = None) -> None:
        self.source, self.group, self.shape, self.dtype = source, group, shape, dtype
        self.options = options or {}
        self.opened = opened  # a file object's File, kept: one reader seeks it

    def __getitem__(self, key: indexing.ExplicitIndexer) -> np.ndarray:
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.BASIC, self._read)

    def _read(self, key: Tuple[Any, ...]) -> np.ndarray:
        from ._api import open as open_file
        from ._remote import is_remote

        if self.opened is not None:
            return self.opened[self.group].data[key]
        if isinstance(self.source, str) and is_remote(self.source):
            return _remote_file(self.source, self.options)[self.group].data[key]
        with open_file(self.source, **self.options) as f:
            return f[self.group].data[key]


# URLs a process keeps open for its tasks, so that each reads a file's
# metadata once rather than once a chunk: at most _KEEP, the oldest closed.
_KEEP = 8
_kept: "OrderedDict[Tuple[int, str, str], Any]" = OrderedDict()
_kept_lock = threading.Lock()


def _remote_file(url: str, options: dict) -> Any:
    from ._api import open as open_file

    key = (os.getpid(), url, repr(sorted(options.items())))
    with _kept_lock:
        f = _kept.get(key)
        if f is not None:
            _kept.move_to_end(key)
            return f
    f = open_file(url, **options)
    with _kept_lock:
        f = _kept.setdefault(key, f)
        while len(_kept) > _KEEP:
            _kept.popitem(last=False)
    return f


class VelfileBackendEntrypoint(BackendEntrypoint):
    """The engine "velfile" for xarray.open_dataset and open_mfdataset."""

    description = "Container files of ultrasonic testing (a data group as a Dataset), by velfile"
    open_dataset_parameters = ("filename_or_obj", "drop_variables", "group", "storage_options", "block_size",
                               "timeout")

    def open_dataset(self, filename_or_obj: Any, *, drop_variables: Optional[Iterable[str]] = None,
                     group: Optional[str] = None, storage_options: Optional[dict] = None,
                     block_size: Optional[int] = None, timeout: Optional[float] = None) -> Any:
        import xarray as xr

        from ._api import open as open_file

        source = _source(filename_or_obj)
        options = {k: v for k, v in (("storage_options", storage_options), ("block_size", block_size),
                                     ("timeout", timeout)) if v}
        f = open_file(source, **options)
        try:
            group = group if group is not None else _labelled.only_data_group(f)
            data = f[group].data
            coords, attrs = _labelled.labels(data)
            coords["has_data"] = (DIMS[:2], data.has_data, {"long_name": "the point has data"})
            shape, dtype, name = data.shape, data.dtype, data.group.name
        finally:
            if isinstance(source, str):
                f.close()
        kept = None if isinstance(source, str) else f
        samples = indexing.LazilyIndexedArray(SamplesArray(source, group, shape, dtype, options, kept))
        variables = {"samples": xr.Variable(DIMS, samples, attrs=dict(attrs, long_name=name))}
        dataset = xr.Dataset(variables, coords=coords, attrs={"group": group})
        return dataset.drop_vars(list(drop_variables or ()), errors="ignore")

    def guess_can_open(self, filename_or_obj: Any) -> bool:
        source = _source(filename_or_obj)
        try:
            if isinstance(source, str):
                if "://" in source:
                    return False  # nothing is fetched to guess
                with open(source, "rb") as f:
                    head = f.read(64)
            elif hasattr(source, "read") and hasattr(source, "seek"):
                at = source.tell()
                source.seek(0)
                head = source.read(64)
                source.seek(at)
            else:
                return False
        except (OSError, ValueError, TypeError):
            return False
        return _velfile._is_section_header(bytes(head))
