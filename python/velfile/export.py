"""A container file exported to HDF5 (h5py) or to the library's JSON form.

    velfile.export.to_hdf5("inspection.A01", "inspection.h5")
    velfile.export.to_json("inspection.A01", "inspection.json")   # as velinspect dump --json

The HDF5 file holds one HDF5 group per container group, along the same
paths: /0 is the section group of section 0, /0/Channel 1/Gate A a group
below it.

Names. A group's HDF5 name is its step in the container path (its name as
paths write it, or #ID or [N] where siblings share the name) with '%'
written %25, '/' written %2F, and a leading '#', '[' or '.' written %23, %5B
or %2E. Percent-decoding the names of an HDF5 path gives back the container
path, and no group's HDF5 name starts with '#': those names are the
export's own.

Items. Each group has the attribute '#items', its directory in order: a
table of (index, id, type, count). Every item but a group reference stores
its value under the name '#ID' ('#ID [INDEX]' for a later item with an id
already used in the group), as an attribute of the item's own type, or as a
dataset of that name when it is larger than 64 KiB (HDF5's limit for an
attribute here):

    int8 ... uint32, float32, float64   numbers of that dtype (a scalar for one)
    quad8, quad9                        uint32 pairs, shape (count, 2)
    utf16                               a str (without its terminating zero);
                                        text that is not valid UTF-16 as opaque
                                        bytes (its units, little-endian)
    char (narrow)                       bytes, as stored, without the zero
    raw, unknown types                  uint8
A string without its zero, or with a zero inside, is stored whole as uint8
(utf16: its units' bytes, little-endian). The group's name is the attribute
'#name'; a section group also has '#start', '#byte order', '#string format'.

Shared sub-groups and cycles. A sub-group reached a second time (two
references to one directory) becomes a hard link to the first; a reference
leading back to an enclosing group is not followed, and the root's
'#notes' says so (as it notes every group or value that could not be read).

Data groups. The samples are the chunked dataset '#samples' of shape
(second, first, samples) in their own dtype (zeros at points without data),
'#has_data' the (second, first) mask, and '#second', '#first', '#sample'
their coordinates (offset + index x factor), attached as dimension scales.
Class 10 keeps its records as '#records' (uint16 units) and
'#record_starts' with '#has_data'.
"""
from __future__ import annotations

import os
import sys
from typing import Any, Callable, Dict, List, Optional, Tuple, Union

import numpy as np

from . import _api, _velfile
from ._axes import DIMS, units
from ._tree import File, Group, Item, WalkNode
from ._types import _PAIR_TYPES, _TEXT_TYPES, ItemType
from ._velfile import Error

PathLike = Union[str, "os.PathLike[str]"]

#: Values larger than this go to datasets, not attributes.
ATTRIBUTE_LIMIT = 64 << 10
# Chunks of the samples' datasets hold about this many bytes.
CHUNK_BYTES = 1 << 20
# Exports of files from this size on show a progress bar on a terminal.
PROGRESS_FROM = 1 << 20

_ITEMS = np.dtype([("index", "<u4"), ("id", "<u2"), ("type", "<u2"), ("count", "<u4")])
_NUMBERS = {ItemType.INT8, ItemType.UINT8, ItemType.INT16, ItemType.UINT16, ItemType.INT32, ItemType.UINT32,
            ItemType.FLOAT32, ItemType.FLOAT64}


def hdf5_name(step: str) -> str:
    """The HDF5 name of a group whose container path ends in step."""
    out = step.replace("%", "%25").replace("/", "%2F")
    if out and out[0] in "#[.":
        out = {"#": "%23", "[": "%5B", ".": "%2E"}[out[0]] + out[1:]
    return out


def _text_value(raw: np.ndarray, type: int) -> Any:
    """A string item's stored bytes as its attribute value."""
    unit = np.dtype("=u2") if type == ItemType.UTF16 else np.dtype(np.uint8)
    units = raw.view(unit)
    little = units.astype("<u2").view(np.uint8) if type == ItemType.UTF16 else units
    if units.size == 0 or units[-1] != 0 or np.count_nonzero(units == 0) != 1:
        return little  # not one terminated string: every byte kept
    if type == ItemType.CHAR:
        return np.bytes_(units[:-1].tobytes())
    text = little[:-2].tobytes()
    decoded = _velfile._utf16_text(text)
    if decoded is None:
        return np.void(text)  # opaque: a fixed-length string would drop a last zero byte
    return decoded


def item_value(item: Item) -> Any:
    """An item's value as the export stores it (see the module's text)."""
    raw = item._bytes()
    if item.type in _TEXT_TYPES:
        return _text_value(raw, item.type)
    if item.type in _NUMBERS or item.type in _PAIR_TYPES:
        values = raw.view(_velfile._dtype_of(item.type))
        if item.type in _PAIR_TYPES:
            return values.reshape(-1, 2)
        return values[0] if values.size == 1 else values
    return raw


def _even(n: int, most: int) -> int:
    """A chunk size of at most most (at least 1) that cuts n into parts as
    even as can be, so that the last chunk wastes little of the file."""
    parts = -(-n // max(1, min(n, most)))
    return -(-n // parts)


def _progress(total: int, show: Optional[bool]) -> Any:
    """A progress bar on stderr (tqdm), shown only on a terminal unless show
    says otherwise."""
    from tqdm import tqdm

    on = (sys.stderr.isatty() and total >= PROGRESS_FROM) if show is None else show
    return tqdm(total=total, disable=not on, desc="exporting", unit="B", unit_scale=True, leave=False)


class _Exporter:
    def __init__(self, f: File, h5: Any, compression: Optional[str], progress: Any) -> None:
        self.f, self.h5, self.compression, self.progress = f, h5, compression, progress
        self.notes: List[str] = []
        self.seen: Dict[Tuple[int, int], str] = {}  # directory -> its first HDF5 path

    def store(self, where: Any, name: str, value: Any) -> None:
        """A value as an attribute, or as a dataset when too large for one."""
        if np.asarray(value).nbytes > ATTRIBUTE_LIMIT:
            where.create_dataset(name, data=value)
        else:
            where.attrs[name] = value

    def items(self, group: Group, out: Any) -> None:
        items = group.directory
        out.attrs["#name"] = group.name
        self.store(out, "#items", np.array([(it.index, it.id, it.type, it.count) for it in items], _ITEMS))
        used = set()
        for it in items:
            if it.type == ItemType.GROUP:
                continue
            name = f"#{it.id}" if it.id not in used else f"#{it.id} [{it.index}]"
            used.add(it.id)
            try:
                self.store(out, name, item_value(it))
            except Error as e:
                self.notes.append(f"{group.path}: item [{it.index}] #{it.id} not exported: {e}")

    def data(self, group: Group, out: Any) -> None:
        if 10400 not in group:
            return
        try:
            data = group.data
        except _velfile.UnsupportedError:
            return  # a data class without bulk data: its items say all
        if data.data_class == 10:
            records, starts, markers = data.records()
            out.create_dataset("#records", data=records)
            out.create_dataset("#record_starts", data=starts)
            out.create_dataset("#has_data", data=markers >= 3)
            self.progress.update(records.nbytes)
            return
        shape, itemsize = data.shape, data.dtype.itemsize
        line = max(1, shape[1] * shape[2] * itemsize)
        chunks = (_even(shape[0], CHUNK_BYTES // line), _even(shape[1], CHUNK_BYTES // (shape[2] * itemsize)),
                  shape[2]) if all(shape) else None
        samples = out.create_dataset("#samples", shape=shape, dtype=data.dtype, chunks=chunks,
                                     compression=self.compression if chunks else None)
        mask = out.create_dataset("#has_data", shape=shape[:2], dtype=bool)
        step = max(1, (4 * CHUNK_BYTES) // line)
        for s in range(0, shape[0], step):
            part, markers = data.read((slice(s, s + step),))
            samples[s:s + part.shape[0]] = part
            mask[s:s + part.shape[0]] = markers >= 3
            self.progress.update(part.nbytes)
        samples.attrs["units"] = units(data)["value"]
        for axis, (dim, coords, (_, factor, offset)) in enumerate(zip(DIMS, data.axes, data._d.axes())):
            scale = out.create_dataset(f"#{dim}", data=coords)
            scale.make_scale(dim)
            scale.attrs["factor"], scale.attrs["offset"] = np.float32(factor), np.float32(offset)
            samples.dims[axis].attach_scale(scale)
            samples.dims[axis].label = dim
            if axis < 2:
                mask.dims[axis].attach_scale(scale)
                mask.dims[axis].label = dim

    def group(self, group: Group, out: Any) -> None:
        try:
            self.items(group, out)
            self.data(group, out)
        except Error as e:
            self.notes.append(f"{group.path}: not exported whole: {e}")

    def section(self, index: int) -> None:
        section = self.f.sections[index]
        path = str(index)
        try:
            root = self.f[path]
        except Error as e:
            self.notes.append(f"section {index}: not exported: {e}")
            return
        top = self.h5.create_group(path, track_order=True)
        top.attrs["#start"] = np.uint32(section.start)
        top.attrs["#byte order"] = section.byte_order
        top.attrs["#string format"] = section.string_format
        stack: List[Tuple[str, Any]] = []

        def visit(node: WalkNode) -> bool:
            del stack[node.depth:]
            if node.depth == 0:
                out = top
            else:
                parent_path, parent = stack[-1]
                name = hdf5_name(node.path[len(parent_path) + 1:])
                key = (node.section_start, node.directory)
                if node.state == "shared" and key in self.seen:
                    parent[name] = self.h5[self.seen[key]]
                    return False
                if node.state != "open":
                    self.notes.append(f"{node.path}: not followed ({node.state}): {node.reason}")
                    return False
                out = parent.create_group(name, track_order=True)
            self.seen[(node.section_start, node.directory)] = out.name
            stack.append((node.path, out))
            self.group(node.group, out)
            return True

        if not root.walk(visit) and not self.notes:
            self.notes.append(f"section {index}: the walk stopped early")


def _replace(out: str, write: Callable[[str], Any]) -> Any:
    """Writes through a file next to out, which replaces out only when done."""
    part = f"{out}.part"
    try:
        result = write(part)
        os.replace(part, out)
        return result
    finally:
        if os.path.exists(part):
            os.unlink(part)


def _opened(source: Union[PathLike, File]) -> Tuple[File, bool]:
    return (source, False) if isinstance(source, File) else (_api.open(source), True)


def to_hdf5(source: Union[PathLike, File], out: PathLike, *, compression: Optional[str] = None,
            progress: Optional[bool] = None) -> List[str]:
    """Exports a container file (a path or an open File) to the HDF5 file out,
    laid out as the module's text says. compression: an h5py filter for the
    samples ('gzip', 'lzf'); progress: a bar on stderr (by default on a
    terminal, for files of 1 MiB and more). Returns the notes: what could not
    be exported, and the cycles cut; empty when everything was. out is
    replaced only when the export is done."""
    import h5py

    f, own = _opened(source)
    try:
        bar = _progress(os.path.getsize(f.path), progress)

        def write(part: str) -> List[str]:
            with h5py.File(part, "w", track_order=True) as h5:
                exporter = _Exporter(f, h5, compression, bar)
                h5.attrs["#file"] = f.path
                h5.attrs["#velfile"] = _velfile.__version__
                for index in range(len(f.sections)):
                    exporter.section(index)
                if exporter.notes:
                    h5.attrs["#notes"] = exporter.notes
                return exporter.notes

        notes = _replace(os.fspath(out), write)
        bar.close()
        return notes
    finally:
        if own:
            f.close()


def to_json(source: Union[PathLike, File], out: PathLike, max_elements: int = 16) -> bool:
    """Writes the file's JSON form (docs/json.md), the document velinspect
    dump --json writes, by the same code. Returns whether every group was
    entered and every value read. out is replaced only when done."""
    f, own = _opened(source)
    try:
        def write(part: str) -> bool:
            written, complete = f._f.write_json(part, max_elements)
            if not written:
                raise OSError("writing failed")
            return complete

        return _replace(os.fspath(out), write)
    finally:
        if own:
            f.close()
