"""The package's pure-Python part: opening, writing items and data from
Python values, data groups as numpy arrays, memory-mapped views and the
HTML summaries. Everything read from a file comes through the extension."""
from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from . import _velfile
from ._velfile import File, Group, InvalidError, Item, UnsupportedError, WrongTypeError
from ._axes import coordinates
from ._html import data_html, file_html, group_html

if TYPE_CHECKING:
    import xarray

PathLike = Union[str, "os.PathLike[str]"]
TypeLike = Union[int, str, np.dtype, type, None]

_TEXT_TYPES = (1, 12)
_PAIR_TYPES = (8, 9)


def open(path: PathLike, mode: str = "r") -> File:  # noqa: A001 - the package's open, as h5py's
    """Opens a container file.

    mode "r" reads it; "a" opens a file whose name ends in .A01 to add one
    section to it (File.create_group starts it); "w" creates it as create()
    does. Raises NotContainerError, NotFoundError, TooManyFilesError,
    InUseError (the path is open for writing, or for reading when writing is
    asked), ...
    """
    return _velfile._open(os.fspath(path), mode)


def create(path: PathLike) -> File:
    """Creates a container file, replacing a file of that name. The first
    File.create_group() starts its one section; a file closed without a
    group is left empty (0 bytes), which no reader accepts."""
    return _velfile._open(os.fspath(path), "w")


# --- writing items ---


def _type_code(type: TypeLike) -> int:
    if isinstance(type, (int, np.integer)) and not isinstance(type, bool):
        return int(type)
    if isinstance(type, str):
        code = _velfile.type_from_name(type)
        if code >= 0:
            return code
    else:
        code = _velfile._type_of_dtype(np.dtype(type))
        if code >= 0:
            return code
    raise WrongTypeError(f"{type!r} names no item type (use a code, a name such as 'int16', or a numpy dtype)")


def _integral_type(values: np.ndarray) -> int:
    """int32 when every value fits, else uint32; refused beyond both."""
    if values.size == 0 or (values.min() >= -(2**31) and values.max() < 2**31):
        return 6
    if values.min() >= 0 and values.max() < 2**32:
        return 7
    raise WrongTypeError("holds integers that neither int32 nor uint32 can store")


def _inferred_type(value: Any) -> int:
    if isinstance(value, str):
        return 12
    if isinstance(value, (bytes, bytearray, memoryview)):
        return 13
    if isinstance(value, (bool, np.bool_)):
        raise WrongTypeError("a bool has no item type; write it as an integer with type='uint8'")
    if isinstance(value, int):
        return _integral_type(np.array([value], dtype=object))
    array = np.asarray(value)
    if array.dtype.kind in "iu" and array.dtype.itemsize > 4:
        return _integral_type(array)
    if array.dtype == np.float16:
        return 10
    code = _velfile._type_of_dtype(array.dtype.newbyteorder("=")) if array.dtype.kind in "iuf" else -1
    if code < 0:
        raise WrongTypeError(f"values of dtype {array.dtype} have no item type; give one with type=")
    return code


def _checked(value: Any, code: int) -> np.ndarray:
    """The value as an array of the item type's elements, refused rather than
    narrowed when a value does not fit."""
    dtype = _velfile._dtype_of(code)
    if code == 13 and isinstance(value, (bytes, bytearray, memoryview)):
        return np.frombuffer(bytes(value), dtype=np.uint8)
    source = np.asarray(value)
    if source.dtype.kind not in "iuf" or (source.dtype.kind == "f" and dtype.kind in "iu" and source.size and (
            not np.all(np.isfinite(source)) or np.any(source != np.round(source)))):
        raise WrongTypeError(f"cannot be written as {_velfile.type_name(code)}: {source.dtype} values do not convert")
    with np.errstate(over="ignore", invalid="ignore"):  # checked below
        out = source.astype(dtype)
    if source.size and dtype.kind in "iu":
        info = np.iinfo(dtype)
        if source.min() < info.min or source.max() > info.max:
            raise WrongTypeError(f"holds values outside the range of {_velfile.type_name(code)}")
    elif source.size and source.dtype.kind in "iu" and np.any(out.astype(source.dtype) != source):
        raise WrongTypeError(f"holds integers that {_velfile.type_name(code)} cannot store exactly")
    elif source.size and np.any(np.isinf(out) & ~np.isinf(source)):
        raise WrongTypeError(f"holds values too large for {_velfile.type_name(code)}")
    if code in _PAIR_TYPES and (out.ndim == 0 or out.shape[-1] != 2):
        raise WrongTypeError("types 8 and 9 take pairs of 32-bit words: an array of shape (..., 2)")
    return np.ascontiguousarray(out)


def write_item(self: Group, id: int, value: Any, type: TypeLike = None) -> None:
    """Writes an item into a group being written.

    The type is an item type code, its name ('int16', 'utf16', ...) or a
    numpy dtype; without one it comes from the value: str -> utf16, bytes ->
    raw, int -> int32 (uint32 past its range), float -> float64, a numpy
    array or list -> its dtype (int64 as int32 or uint32 when the values fit).
    Types 8 and 9 take uint32 pairs, shape (..., 2). A value that cannot be
    written as the type asked for raises WrongTypeError; nothing is narrowed.
    """
    code = _inferred_type(value) if type is None else _type_code(type)
    if code in _TEXT_TYPES:
        if not isinstance(value, str):
            raise WrongTypeError(f"item {id}: a string type takes a str, not {value.__class__.__name__}")
        if code == 12:
            self._write_text(id, value)
        else:
            try:
                data = np.frombuffer(value.encode("ascii") + b"\0", dtype=np.uint8)
            except UnicodeEncodeError:
                raise WrongTypeError(f"item {id}: narrow strings are written from ASCII text only") from None
            self._write(id, 1, data, data.size)
        return
    if code == 0:
        raise WrongTypeError(f"item {id}: group references are made by create_group()")
    if not 1 <= code <= 13:
        raise WrongTypeError(f"item {id}: {code} is not an item type (1 to 13)")
    data = _checked(value, code)
    count = data.size // 2 if code in _PAIR_TYPES else data.size
    self._write(id, code, data, count)


# --- memory maps ---


def _mapped(extent: Tuple[str, int, int, bool], dtype: np.dtype, shape: Tuple[int, ...], file: File):
    path, offset, nbytes, host_order = extent
    if not host_order:
        return None
    if nbytes == 0:
        view = np.empty(shape, dtype)
    else:
        view = np.memmap(path, dtype=dtype, mode="r", offset=offset, shape=shape)
        # The view keeps a reader of its file open, so that the path cannot
        # be created anew through the package while the view lives (a file
        # being written is kept open itself).
        view._velfile = file if file.writable else _velfile._open(path, "r")
    view.flags.writeable = False
    return view


def item_view(self: Item) -> np.ndarray:
    """The item's elements as a read-only numpy view on a memory map of the
    file, without reading them, where its section is in the host's byte
    order; elsewhere they are read (and swapped) as value reads them.

    The view keeps its file open. As with numpy.memmap, a file truncated by
    another process under a live view is the one case the package cannot
    guard: touching the lost pages then ends the process (SIGBUS).
    """
    if self.type in _TEXT_TYPES or self.type == 0:
        raise WrongTypeError(f"item {self.id} is {self.type_name}: only numbers and raw bytes have a view")
    shape = (self.count, 2) if self.type in _PAIR_TYPES else (self.count,)
    dtype = _velfile._dtype_of(self.type)
    if self.count * dtype.itemsize * len(shape) <= 4:  # held in the directory entry, not in the file
        return np.asarray(self.value, dtype=dtype).reshape(shape)
    view = _mapped(self._extent(), dtype, shape, self.file)
    return view if view is not None else np.asarray(self.value, dtype=dtype).reshape(shape)


# --- data groups ---


class Axes(NamedTuple):
    """Coordinates of the three axes of a data group: offset + index x factor,
    in decimal (see velfile._axes.coordinates)."""

    second: np.ndarray
    first: np.ndarray
    sample: np.ndarray


def _span(key: Any, n: int) -> Tuple[int, int, Any]:
    """A contiguous range (start, count) covering one axis's selection, and
    the index that picks the selection out of that range."""
    if isinstance(key, (int, np.integer)) and not isinstance(key, bool):
        i = int(key) + (n if key < 0 else 0)
        if not 0 <= i < n:
            raise IndexError(f"index {int(key)} is out of range for an axis of {n}")
        return i, 1, 0
    if isinstance(key, slice):
        picked = range(*key.indices(n))
        if len(picked) == 0:
            return 0, 0, slice(None)
        low, high = min(picked[0], picked[-1]), max(picked[0], picked[-1])
        post = slice(None) if picked.step == 1 else np.arange(picked[0] - low, picked[-1] - low + (
            1 if picked.step > 0 else -1), picked.step)
        return low, high - low + 1, post
    raise TypeError(f"data groups are indexed by integers and slices, not {key.__class__.__name__}")


class DataGroup:
    """A data group's acquired data, read by range.

    data[s, f, k] selects second points, first points and samples (integers
    and slices, steps included) and reads only the range that covers them.
    Shapes by data class: class 1, (second, first, samples) of the sample
    type; a block class, (second, first, entry / sample size) of the sample
    type when the point entry is a whole number of samples, else (second,
    first, entry) uint8; class 10, variable records (records()). Values come
    in host byte order; points without data read as zeros (see has_data).
    """

    __slots__ = ("_d", "__weakref__")

    def __init__(self, binding: Any) -> None:
        self._d = binding

    @property
    def group(self) -> Group:
        """The group holding the data."""
        return self._d.group

    @property
    def data_class(self) -> int:
        """The data class (item 10400), which chooses the layout."""
        return self._d.data_class

    @property
    def shape(self) -> Tuple[int, int, int]:
        """Second points, first points, elements per point (0 for class 10)."""
        return self._d.shape

    @property
    def dtype(self) -> np.dtype:
        """The dtype of the elements."""
        return _velfile._dtype_of(self._d.sample_type)

    @property
    def sample_type(self) -> int:
        """The item type of the elements (13: raw bytes)."""
        return self._d.sample_type

    def __len__(self) -> int:
        return self.shape[0]

    def __getitem__(self, key: Any) -> np.ndarray:
        return self.read(key)[0]

    def read(self, key: Any = ()) -> Tuple[np.ndarray, np.ndarray]:
        """The samples of a selection and each point's marker (0, 1 or 2 for a
        point without data, 3 for a point with data)."""
        if self.data_class == 10:
            raise WrongTypeError("a class 10 group holds variable records: read them with records()")
        key = key if isinstance(key, tuple) else (key,)
        if any(k is Ellipsis for k in key):
            at = key.index(Ellipsis)
            key = key[:at] + (slice(None),) * (4 - len(key)) + key[at + 1:]
        if len(key) > 3:
            raise IndexError("a data group has three axes: second, first, samples")
        key = key + (slice(None),) * (3 - len(key))
        spans = [_span(k, n) for k, n in zip(key, self.shape)]
        (s0, sc, sp), (f0, fc, fp), (k0, kc, kp) = spans
        if sc and fc and kc:
            samples, markers = self._d._read(s0, sc, f0, fc, k0, kc)
        else:
            # Nothing to read but the markers (every point of a block has data).
            samples, markers = np.zeros((sc, fc, kc), self.dtype), np.full((sc, fc), 3, np.uint8)
            if sc and fc and self.data_class == 1:
                markers = self._d._read(s0, sc, f0, fc, 0, min(1, self.shape[2]))[1]
        for axis, post in enumerate((sp, fp, kp)):
            if isinstance(post, np.ndarray):
                samples = np.take(samples, post, axis=axis)
                if axis < 2:
                    markers = np.take(markers, post, axis=axis)
        drop = tuple(0 if isinstance(p, int) else slice(None) for p in (sp, fp, kp))
        return samples[drop], markers[drop[:2]]

    @property
    def samples(self) -> np.ndarray:
        """Every sample, shape (second, first, samples), host byte order."""
        return self[:, :, :]

    @property
    def markers(self) -> np.ndarray:
        """Each point's marker: 0, 1 or 2 for a point without data, 3 with data."""
        return self.read((slice(None), slice(None), slice(0, 0)))[1]

    @property
    def has_data(self) -> np.ndarray:
        """Boolean mask (second, first) of the points that have data."""
        if self.data_class != 1 and self.data_class != 10:
            return np.ones(self.shape[:2], dtype=bool)
        if self.data_class == 10:
            return self.records()[2] >= 3
        return self.markers >= 3

    @property
    def axes(self) -> Axes:
        """Coordinates of the second, first and sample axes, from each axis's
        count, factor and offset. The counts are checked against the data
        first, so that a damaged file cannot ask for huge coordinate arrays."""
        if self.data_class != 10:
            self._d._check()
        return Axes(*(coordinates(int(c), f, o) for c, f, o in self._d._axes))

    @property
    def descriptor(self) -> dict:
        """The data descriptor's fields (the data module's), with the sample
        type by name as well (dataTypeName)."""
        d = self.group.descriptor("data")
        d["dataTypeName"] = _velfile.type_name(d["dataType"]) if d.get("dataType", -1) >= 0 else "none"
        return d

    def records(self, second: slice = slice(None), first: slice = slice(None)
                ) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        """Class 10: the records of a range of points (step 1): every record's
        16-bit units one after another, where each point's record starts in
        them (points + 1 entries), and each point's marker."""
        (s0, sc, _), (f0, fc, _) = _span(second, self.shape[0]), _span(first, self.shape[1])
        return self._d._records(s0, sc, f0, fc)

    def samples_view(self) -> np.ndarray:
        """The samples of a block class as a read-only numpy view on a memory
        map of the file, ready at once whatever the size, where its section is
        in the host's byte order; elsewhere they are read (and swapped) as
        samples reads them. Classes 1 and 10 keep each point in a record of
        its own and raise UnsupportedError.

        The view keeps its file open. As with numpy.memmap, a file truncated
        by another process under a live view is the one case the package
        cannot guard: touching the lost pages then ends the process (SIGBUS).
        """
        extent = self._d._extent()
        view = _mapped(extent, self.dtype, self.shape, self.group.file)
        if view is None:
            view = self.samples
            view.flags.writeable = False
        return view

    def to_xarray(self) -> "xarray.DataArray":
        """The data group as an xarray.DataArray (dims second, first, sample),
        read at once: coordinates with units, the has_data coordinate, the
        descriptor's fields as attributes. See velfile.open_many for many
        files read lazily."""
        from ._labelled import to_xarray

        return to_xarray(self)

    def __repr__(self) -> str:
        s, f, k = self.shape
        return f"<velfile.DataGroup {self.group.path!r} class {self.data_class}, {s} x {f} x {k} {self.dtype}>"

    _repr_html_ = data_html


def group_data(self: Group) -> DataGroup:
    """The group read as a data group; UnsupportedError when it has no data
    class with a layout."""
    return DataGroup(_velfile._data(self))


def write_data(self: Group, samples: Any, has_data: Any = None, *, data_class: int = 1,
               axes: Optional[Sequence[Tuple[float, float]]] = None, sample_type: TypeLike = None) -> DataGroup:
    """Makes this group (being written) a data group, from a numpy array of
    shape (second, first, samples).

    data_class 1 stores each point's samples in a record of its own; has_data
    (a boolean mask of shape (second, first), or markers 0, 1, 2 for a point
    without data and 3 for one with data) leaves the points without data out.
    A block class (2, 3, 5, 6, 17, 20, 30 to 37, 40 to 43) stores one block
    and takes no mask. axes gives (factor, offset) for the second, first and
    sample axes. The sample type is the array's dtype (sample_type names
    another for raw uint8 entries). Returns the data group as written.
    """
    array = np.asarray(samples)
    if array.ndim != 3:
        raise InvalidError("write_data takes samples of shape (second, first, samples)")
    array = np.ascontiguousarray(array, dtype=array.dtype.newbyteorder("="))
    code = _type_code(array.dtype) if sample_type is None else _type_code(sample_type)
    if sample_type is not None and array.dtype != _velfile._dtype_of(code) and array.dtype != np.uint8:
        raise WrongTypeError(f"samples of dtype {array.dtype} are not of type {_velfile.type_name(code)}")
    markers = None
    if has_data is not None:
        mask = np.asarray(has_data)
        markers = np.where(mask, 3, 0).astype(np.uint8) if mask.dtype == bool else mask.astype(np.uint8)
    flat = [float(x) for pair in (axes or ((1.0, 0.0),) * 3) for x in pair]
    if len(flat) != 6:
        raise InvalidError("axes takes three (factor, offset) pairs: second, first, samples")
    return DataGroup(_velfile._write_data(self, data_class, array, code, markers, flat))


Group.write_item = write_item
Group.data = property(group_data, doc=group_data.__doc__)
Group.write_data = write_data
Group._repr_html_ = group_html
File._repr_html_ = file_html
Item.view = item_view
