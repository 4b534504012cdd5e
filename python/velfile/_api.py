"""The package's pure-Python part: opening, writing items and data from
Python values, data groups as numpy arrays, memory-mapped views and the
HTML summaries. Everything read from a file comes through the extension."""
from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from . import _velfile
from ._axes import coordinates
from ._html import data_html
from ._tree import _SCALAR_TYPES, File, Group, mappable
from ._types import _PAIR_TYPES, _TEXT_TYPES, ItemType, item_type
from ._velfile import InvalidError, WrongTypeError

if TYPE_CHECKING:
    import xarray

PathLike = Union[str, "os.PathLike[str]"]
TypeLike = Union[int, str, np.dtype, type, None]

_OPEN = {"r": _velfile.File.open, "a": _velfile.File.append, "w": _velfile.File.create}


def open(path: PathLike, mode: str = "r", **options: Any) -> File:  # noqa: A001 - the package's open, as h5py's
    """Opens a container file.

    mode "r" reads it; "a" opens a file whose name ends in .A01 to add one
    section to it (File.create_group starts it); "w" creates it as create()
    does. Readers share a file with each other and with a writer adding a
    section. Raises NotContainerError, NoSuchFileError (a NotFoundError and
    a FileNotFoundError), PermissionDeniedError (a PermissionError),
    TooManyFilesError, InUseError (a second writer, or a create of a file
    that is open), ...

    path may also be a file object (with read and seek) or an fsspec URL
    ("http://...", "memory://...", "s3://..." where its driver is
    installed), read for mode "r" only: options storage_options= (for
    fsspec), block_size= (the bytes each request reads at least, 256 KiB)
    and timeout= (seconds a request may take, 30); see velfile._remote.
    """
    from . import _remote

    if mode not in _OPEN:
        raise InvalidError(f"mode '{mode}' is not one of 'r' (read), 'a' (add a section), 'w' (create)")
    if _remote.is_remote(path):
        return File(_remote.open_remote(path, mode, **options), mode)
    if options:
        raise InvalidError(f"{', '.join(options)}: options of files read through a file object or a URL")
    path = os.fspath(path)
    path = path[len("file://"):] if path.startswith("file://") else path
    return File(_OPEN[mode](path), mode)


def create(path: PathLike) -> File:
    """Creates a container file, replacing a file of that name. The first
    File.create_group() starts its one section; a file closed without a
    group is left empty (0 bytes), which no reader accepts."""
    return open(path, "w")


# --- writing items ---


def _type_code(type: TypeLike) -> int:
    if isinstance(type, (int, np.integer)) and not isinstance(type, bool):
        return item_type(int(type))
    if isinstance(type, str):
        code = _velfile.type_from_name(type)
        if code >= 0:
            return item_type(code)
    else:
        code = _velfile._type_of_dtype(np.dtype(type))
        if code >= 0:
            return item_type(code)
    raise WrongTypeError(f"{type!r} names no item type (use an ItemType, a name such as 'int16', or a numpy dtype)")


def _exact_integers(value: Any) -> Optional[np.ndarray]:
    """Python integers (one, or a nested list of them) as an object array
    that keeps each exactly; None for any other value."""
    if isinstance(value, (bool, np.bool_)):
        return None
    if isinstance(value, int):
        return np.array(value, dtype=object)
    if not isinstance(value, (list, tuple)):
        return None
    try:
        array = np.array(value, dtype=object)
    except ValueError:  # ragged
        return None
    if array.size and all(isinstance(v, int) and not isinstance(v, bool) for v in array.flat):
        return array
    return None


def _first(values: np.ndarray, bad: np.ndarray) -> Any:
    return values[bad].flat[0] if values.ndim else values.item()


def _integral_type(values: np.ndarray) -> int:
    """INT32 when every value fits, else UINT32; refused beyond both."""
    if values.size == 0:
        return ItemType.INT32
    low, high = values.min(), values.max()
    if low >= -(2**31) and high < 2**31:
        return ItemType.INT32
    if low >= 0 and high < 2**32:
        return ItemType.UINT32
    bad = np.asarray((values < -(2**31)) | (values >= 2**32) if low < 0 else values >= 2**32, dtype=bool)
    raise WrongTypeError(f"holds {_first(values, bad)}, which neither int32 nor uint32 can store")


def _inferred_type(value: Any) -> int:
    if isinstance(value, str):
        return ItemType.UTF16
    if isinstance(value, (bytes, bytearray, memoryview)):
        return ItemType.RAW
    if isinstance(value, (bool, np.bool_)):
        raise WrongTypeError("a bool has no item type; write it as an integer with type='uint8'")
    exact = _exact_integers(value)
    if exact is not None:
        return _integral_type(exact)
    array = np.asarray(value)
    if array.dtype.kind in "iu" and array.dtype.itemsize > 4:
        return _integral_type(array)
    if array.dtype == np.float16:
        return ItemType.FLOAT32
    code = _velfile._type_of_dtype(array.dtype.newbyteorder("=")) if array.dtype.kind in "iuf" else -1
    if code < 0:
        raise WrongTypeError(f"values of dtype {array.dtype} have no item type; give one with type=")
    return item_type(code)


def _float_holds(dtype: np.dtype, value: int) -> bool:
    """Whether a float type holds a Python integer exactly."""
    try:
        with np.errstate(over="ignore"):
            converted = dtype.type(value)
    except OverflowError:
        return False
    return bool(np.isfinite(converted)) and int(converted) == value


def _unfit(source: np.ndarray, dtype: np.dtype) -> np.ndarray:
    """Where integers (an object array of Python ints, or an integer array)
    do not fit a dtype exactly."""
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        return np.asarray((source < info.min) | (source > info.max), dtype=bool)
    if source.dtype == object:
        return np.array([not _float_holds(dtype, v) for v in source.flat], bool).reshape(source.shape)
    with np.errstate(over="ignore", invalid="ignore"):
        converted = source.astype(dtype)
        return ~np.isfinite(converted) | (converted.astype(source.dtype) != source)


def _converted(source: np.ndarray, dtype: np.dtype, code: int, name: str) -> np.ndarray:
    """Numbers as an item type by the C++ layer's one conversion rule;
    integers of no item type (Python ints, int64) are first held to the
    target here, by the same rule."""
    if source.dtype == object or (source.dtype.kind in "iu" and source.dtype.itemsize > 4):
        if source.size:
            bad = _unfit(source, dtype)
            if np.any(bad):
                raise WrongTypeError(f"holds {_first(source, bad)}, which {name} cannot hold")
        return np.ascontiguousarray(source.astype(dtype))
    if source.dtype == np.float16:
        source = source.astype(np.float32)  # exact
    return convert(source.astype(source.dtype.newbyteorder("=")), code)


def convert(values: np.ndarray, code: int) -> np.ndarray:
    """Numbers of an item type's dtype as item type code, by the C++ layer's
    conversion rule: WrongTypeError naming the first value the type cannot hold."""
    return _velfile._convert(np.ascontiguousarray(values), code)


def _checked(value: Any, code: int) -> np.ndarray:
    """The value as an array of the item type's elements, refused rather than
    narrowed when a value does not fit."""
    dtype = _velfile._dtype_of(code)
    name = _velfile.type_name(code)
    if code == ItemType.RAW and isinstance(value, (bytes, bytearray, memoryview)):
        return np.frombuffer(bytes(value), dtype=np.uint8)
    exact = _exact_integers(value)
    source = exact if exact is not None else np.asarray(value)
    if source.dtype.kind not in "iufO" or (source.dtype.kind == "O" and exact is None):
        raise WrongTypeError(f"cannot be written as {name}: {source.dtype} values do not convert")
    if code in _SCALAR_TYPES:
        return _converted(source, dtype, code, name)
    if source.dtype.kind == "f" and dtype.kind in "iu" and source.size:
        bad = ~np.isfinite(source) | (source != np.round(source))
        if np.any(bad):
            raise WrongTypeError(f"holds {_first(source, bad)}, which is not an integer: cannot be written as {name}")
    if source.size and source.dtype.kind in "iuO":
        bad = _unfit(source, dtype)
        if np.any(bad):
            raise WrongTypeError(f"holds {_first(source, bad)}, which {name} cannot store")
    with np.errstate(over="ignore", invalid="ignore"):  # checked here and below
        out = source.astype(dtype)
    if source.size and dtype.kind in "iu" and source.dtype.kind == "f":
        info = np.iinfo(dtype)
        bad = (source < info.min) | (source > info.max)
        if np.any(bad):
            raise WrongTypeError(f"holds {_first(source, bad)}, which {name} cannot store")
    elif source.size and source.dtype.kind == "f":
        bad = np.isinf(out) & ~np.isinf(source)
        if np.any(bad):
            raise WrongTypeError(f"holds {_first(source, bad)}, which is too large for {name}")
    if code in _PAIR_TYPES and (out.ndim == 0 or out.shape[-1] != 2):
        raise WrongTypeError("types 8 and 9 take pairs of 32-bit words: an array of shape (..., 2)")
    return np.ascontiguousarray(out)


def write_item(group: Group, id: int, value: Any, type: TypeLike = None) -> None:
    """Group.write_item, for an id already checked."""
    try:
        code = _inferred_type(value) if type is None else _type_code(type)
    except WrongTypeError as e:
        raise WrongTypeError(f"item {id}: {e}") from None
    binding = group._g
    if code in _TEXT_TYPES:
        if not isinstance(value, str):
            raise WrongTypeError(f"item {id}: a string type takes a str, not {value.__class__.__name__}")
        if code == ItemType.UTF16:
            binding.write_text(id, value)
        else:
            try:
                data = np.frombuffer(value.encode("ascii") + b"\0", dtype=np.uint8)
            except UnicodeEncodeError:
                raise WrongTypeError(f"item {id}: narrow strings are written from ASCII text only") from None
            binding.write_item(id, ItemType.CHAR, data, data.size)
        return
    if code == ItemType.GROUP:
        raise WrongTypeError(f"item {id}: group references are made by create_group()")
    if not ItemType.CHAR <= code <= ItemType.RAW:
        raise WrongTypeError(f"item {id}: {code} is not an item type (1 to 13)")
    try:
        data = _checked(value, code)
    except WrongTypeError as e:
        raise WrongTypeError(f"item {id}: {e}") from None
    count = data.size // 2 if code in _PAIR_TYPES else data.size
    binding.write_item(id, code, data, count)


# --- memory maps ---


def mapped(extent: Tuple[str, int, int, bool], dtype: np.dtype, shape: Tuple[int, ...], file: File):
    path, offset, nbytes, host_order = extent
    if not host_order or not os.path.isfile(path):  # swapped, or read through a file object or a URL
        return None
    if nbytes == 0:
        view = np.empty(shape, dtype)
    else:
        view = np.memmap(path, dtype=dtype, mode="r", offset=offset, shape=shape)
        # The view keeps a reader of its file open, so that the path cannot
        # be created anew through the package while the view lives (a file
        # being written is kept open itself).
        view._velfile = file if file.writable else open(path, "r")
    view.flags.writeable = False
    return view


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

    __slots__ = ("_group", "_d", "__weakref__")

    def __init__(self, group: Group, binding: Any) -> None:
        self._group = group
        self._d = binding

    @property
    def group(self) -> Group:
        """The group holding the data."""
        return self._group

    @property
    def data_class(self) -> int:
        """The data class (item 10400), which chooses the layout."""
        return self._d.data_class()

    @property
    def shape(self) -> Tuple[int, int, int]:
        """Second points, first points, elements per point (0 for class 10)."""
        return self._d.shape()

    @property
    def dtype(self) -> np.dtype:
        """The dtype of the elements."""
        return _velfile._dtype_of(self._d.sample_type())

    @property
    def sample_type(self) -> int:
        """The item type of the elements (13: raw bytes)."""
        return item_type(self._d.sample_type())

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
            samples, markers = self._d.read(s0, sc, f0, fc, k0, kc)
        else:
            # Nothing to read but the markers (every point of a block has data).
            samples, markers = np.zeros((sc, fc, kc), self.dtype), np.full((sc, fc), 3, np.uint8)
            if sc and fc and self.data_class == 1:
                markers = self._d.read(s0, sc, f0, fc, 0, min(1, self.shape[2]))[1]
        for axis, post in enumerate((sp, fp, kp)):
            if isinstance(post, np.ndarray):
                samples = np.take(samples, post, axis=axis)
                if axis < 2:
                    markers = np.take(markers, post, axis=axis)
        drop = tuple(0 if isinstance(p, int) else slice(None) for p in (sp, fp, kp))
        return samples[drop], markers[drop[:2]]

    def read_as(self, type: TypeLike, key: Any = ()) -> np.ndarray:
        """The samples of a selection (as data[key]) converted to an item type
        (an ItemType, a name such as 'float64', or a numpy dtype) by the
        package's one conversion rule: WrongTypeError, naming the value,
        when the type cannot hold a sample (a float as an integer only when
        integral and in range; float64 to float32 only within its range)."""
        return convert(self[key], _type_code(type))

    @property
    def samples(self) -> np.ndarray:
        """Every sample, shape (second, first, samples), host byte order."""
        return self[:, :, :]

    @property
    def markers(self) -> np.ndarray:
        """Each point's marker: 0, 1 or 2 for a point without data, 3 with data."""
        if self.data_class == 1:  # from the point table alone, which says where each record lies
            offsets = _velfile._record_offsets(self._d).reshape(self.shape[:2])
            return np.where(offsets >= HAS_DATA, HAS_DATA, offsets).astype(np.uint8)
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
            self._d.bytes_needed()
        return Axes(*(coordinates(int(c), f, o) for c, f, o in self._d.axes()))

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
        return self._d.read_records(s0, sc, f0, fc)

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
        mappable(self._group)
        extent = (self._group.file.path, *self._d.block())
        view = mapped(extent, self.dtype, self.shape, self.group.file)
        if view is None:
            view = self.samples
            view.flags.writeable = False
        return view

    def to_xarray(self, units: Optional[Mapping[str, str]] = None) -> "xarray.DataArray":
        """The data group as an xarray.DataArray (dims second, first, sample),
        read at once: coordinates with long names and units (units names
        those of 'second', 'first', 'sample' and 'value', as in velfile.plot),
        the has_data coordinate, the descriptor's fields as attributes that
        netCDF files hold. See velfile.open_many for many files read
        lazily."""
        from ._labelled import to_xarray

        return to_xarray(self, units)

    def __repr__(self) -> str:
        s, f, k = self.shape
        return f"<velfile.DataGroup {self.group.path!r} class {self.data_class}, {s} x {f} x {k} {self.dtype}>"

    _repr_html_ = data_html


#: The marker of a point with data, in markers= of write_data (0, 1 and 2
#: are the format's three markers of a point without data).
HAS_DATA = 3


def _markers(points: Tuple[int, int], has_data: Any, markers: Any) -> Optional[np.ndarray]:
    """The markers write_data stores, from has_data (a boolean mask) or
    markers (0, 1, 2 or HAS_DATA), each of shape (second, first) exactly."""
    if has_data is not None and markers is not None:
        raise InvalidError("write_data takes has_data or markers, not both")
    given, name = (has_data, "has_data") if has_data is not None else (markers, "markers")
    if given is None:
        return None
    array = np.asarray(given)
    if array.shape != points:
        raise InvalidError(f"{name} must have the shape (second, first) = {points} of the samples; got {array.shape}")
    if name == "has_data":
        if array.dtype != bool:
            raise InvalidError(f"has_data must be a boolean array, not {array.dtype}; give the format's markers "
                               f"(0, 1 or 2 without data, {HAS_DATA} with data) as markers=")
        return np.where(array, HAS_DATA, 0).astype(np.uint8)
    if array.dtype.kind not in "iu":
        raise InvalidError(f"markers must be integers (0, 1 or 2 without data, {HAS_DATA} with data), not {array.dtype}")
    bad = array[(array < 0) | (array > HAS_DATA)]
    if bad.size:
        raise InvalidError(f"markers hold {bad.flat[0]}: a point's marker is 0, 1 or 2 (no data) or {HAS_DATA} (data)")
    return array.astype(np.uint8)


def _axes(axes: Optional[Sequence[Tuple[float, float]]]) -> list:
    """Three (factor, offset) pairs as the file stores them (float32): a
    factor of 0, a value that is not finite or that float32 cannot hold is
    refused."""
    pairs = list(axes) if axes is not None else [(1.0, 0.0)] * 3
    if len(pairs) != 3 or any(len(p) != 2 for p in pairs):
        raise InvalidError("axes takes three (factor, offset) pairs: second, first, samples")
    limit = float(np.finfo(np.float32).max)
    for dim, (factor, offset) in zip(("second", "first", "sample"), pairs):
        for what, v in (("factor", float(factor)), ("offset", float(offset))):
            if not np.isfinite(v) or abs(v) > limit:
                raise InvalidError(f"the {dim} axis's {what} {v!r} is not a finite number a float32 holds")
        if float(factor) == 0:
            raise InvalidError(f"the {dim} axis's factor is 0: its coordinates would all be the same")
    return [float(x) for pair in pairs for x in pair]


def write_data(group: Group, samples: Any, has_data: Any = None, *, markers: Any = None, data_class: int = 1,
               axes: Optional[Sequence[Tuple[float, float]]] = None, sample_type: TypeLike = None,
               fields: Optional[dict] = None) -> DataGroup:
    """Group.write_data."""
    array = np.asarray(samples)
    if array.ndim != 3:
        raise InvalidError("write_data takes samples of shape (second, first, samples)")
    array = np.ascontiguousarray(array, dtype=array.dtype.newbyteorder("="))
    code = _type_code(array.dtype) if sample_type is None else _type_code(sample_type)
    if sample_type is not None and array.dtype != _velfile._dtype_of(code) and array.dtype != np.uint8:
        raise WrongTypeError(f"samples of dtype {array.dtype} are not of type {_velfile.type_name(code)}")
    stored = _markers(array.shape[:2], has_data, markers)
    flat = _axes(axes)
    data = group._g.write_data(data_class, array, code, stored, flat)
    if fields:
        group.write_descriptor("data", fields)  # over the group's own: only what differs
        data = group._g.data()
    return DataGroup(group, data)




class DataWriter:
    """Writes a data group line by line (Group.data_writer()), as an
    acquisition produces it: each write_line() stores one line (one second
    point index: its first points, their samples and which have data) and
    only that line is held, whatever the scan's size.

    Lines go in order from 0, each once: a line out of order, written twice
    or past the last raises InvalidError. The group is whole when the last
    line is written; the file then holds the bytes write_data() gives the
    same scan (when nothing else was written in between). finish() ends a
    scan early: the lines not written are stored as points without data (a
    block class: zero bytes), and it returns how many. As a context manager,
    a block left normally ends the scan too, and raises InvalidError naming
    the lines it so stored; a block left by an exception leaves the scan to
    the file (whose with block then abandons the section).
    """

    __slots__ = ("_group", "_w", "_dtype", "_fields")

    def __init__(self, group: Group, binding: Any, dtype: np.dtype, fields: Optional[dict]) -> None:
        self._group = group
        self._w = binding
        self._dtype = dtype
        self._fields = fields

    @property
    def lines(self) -> int:
        """The group's lines: its second point count."""
        return self._w.lines()

    @property
    def next_line(self) -> int:
        """The lines written so far: the index of the next."""
        return self._w.next_line()

    @property
    def complete(self) -> bool:
        """Whether every line was written (or finish() stored the rest)."""
        return self._w.complete()

    def write_line(self, line: int, samples: Any, has_data: Any = None, *, markers: Any = None) -> None:
        """Writes line `line` (next_line): samples of shape (first, samples)
        and the writer's dtype; has_data a boolean array of shape (first,),
        or markers as write_data() takes them."""
        array = np.asarray(samples)
        if array.dtype.newbyteorder("=") != self._dtype:
            raise WrongTypeError(f"a line of dtype {array.dtype} is not of the writer's dtype {self._dtype}")
        array = np.ascontiguousarray(array, dtype=self._dtype)
        stored = _markers(array.shape[:1], has_data, markers) if array.ndim == 2 else None
        self._w.write_line(line, array, stored)
        if self._w.complete():
            self._done()

    def finish(self) -> int:
        """Ends the scan: the lines not written are stored as points without
        data (a block class: zero bytes). Returns how many (0 when whole)."""
        n = self._w.finish()
        self._done()
        return n

    @property
    def data(self) -> DataGroup:
        """The group read back as a data group, once complete."""
        return DataGroup(self._group, self._w.data())

    def _done(self) -> None:
        if self._fields:
            fields, self._fields = self._fields, None
            self._group.write_descriptor("data", fields)  # over the group's own: only what differs

    def __enter__(self) -> "DataWriter":
        return self

    def __exit__(self, kind: Any, *exc: Any) -> bool:
        if kind is None and not self._w.complete():
            first = self._w.next_line()
            self.finish()
            last = self._w.lines() - 1
            which = f"line {first}" if first == last else f"lines {first} to {last}"
            raise InvalidError(f"the data writer of group {self._group.path!r} was left with {which} of "
                               f"{last + 1} not written: they are stored as points without data (finish() "
                               "ends a scan early without this error)")
        return False

    def __repr__(self) -> str:
        return f"<velfile.DataWriter {self._group.path!r} line {self.next_line} of {self.lines}>"


def data_writer(group: Group, shape: Sequence[int], dtype: Any, *, data_class: int = 1,
                axes: Optional[Sequence[Tuple[float, float]]] = None, sample_type: TypeLike = None,
                fields: Optional[dict] = None) -> DataWriter:
    """Group.data_writer."""
    if len(shape) != 3:
        raise InvalidError("data_writer takes the shape (second, first, samples)")
    dt = np.dtype(dtype).newbyteorder("=")
    code = _type_code(dt) if sample_type is None else _type_code(sample_type)
    if sample_type is not None and dt != _velfile._dtype_of(code) and dt != np.uint8:
        raise WrongTypeError(f"samples of dtype {dt} are not of type {_velfile.type_name(code)}")
    binding = group._g.data_writer(data_class, [int(n) for n in shape], dt.itemsize, code, _axes(axes))
    return DataWriter(group, binding, dt, fields)
