"""Files, groups and items: Python classes over the extension's binding of
the C++ layer. Files and groups are mappings of their sub-groups, keyed by
the path steps the library names them by."""
from __future__ import annotations

from typing import Any, Callable, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _velfile
from ._html import file_html, group_html, item_html, item_text
from ._types import _PAIR_TYPES, _TEXT_TYPES, ItemType, item_type
from ._velfile import BadPathError, InvalidError, NotFoundError, UnsupportedError, WrongTypeError

_NAME_ITEM = 10000
_SCALAR_TYPES = (ItemType.INT8, ItemType.UINT8, ItemType.INT16, ItemType.UINT16, ItemType.INT32, ItemType.UINT32,
                 ItemType.FLOAT32, ItemType.FLOAT64)


def item_id(id: Any, group: str, writing: bool = False) -> int:
    """An item id as the library takes it: 0 to 65535, and for a write not
    the name item's 10000; else InvalidError."""
    if isinstance(id, (bool, np.bool_)) or not isinstance(id, (int, np.integer)):
        raise InvalidError(f"group {group!r}: an item id is an integer, not {id.__class__.__name__}")
    if not 0 <= id <= 0xFFFF:
        raise InvalidError(f"group {group!r}: item id {int(id)} is outside 0 to 65535")
    if writing and id == _NAME_ITEM:
        raise InvalidError(f"group {group!r}: item id 10000 holds the group's name; set it with the name")
    return int(id)


def _absolute(path: str) -> Tuple[bool, str]:
    """Whether a path names its group from the file (a leading /), and the
    path without it."""
    if not isinstance(path, str):
        raise BadPathError(f"a group path is a str, not {path.__class__.__name__}")
    return (True, path[1:]) if path.startswith("/") else (False, path)


def mappable(group: "Group") -> None:
    """Refuses a group whose bytes cannot be mapped yet: one being written."""
    if group.writable:
        raise UnsupportedError(f"group {group.path!r} is being written: its bytes are final only when the file "
                               "is closed")


class _Mapping:
    """The mapping protocol over sub-groups, for files and groups: keys are
    the path steps that name each sub-group (a name, #id where siblings share
    a name, [index] where they share the id too), so that self[k] is the
    sub-group of every key k."""

    __slots__ = ()

    def _children(self) -> List[Tuple[str, "Group"]]:
        raise NotImplementedError

    def __getitem__(self, path: str) -> "Group":
        raise NotImplementedError

    def keys(self) -> List[str]:
        """The sub-groups' keys, in directory (or file) order."""
        return [k for k, _ in self._children()]

    def values(self) -> List["Group"]:
        """The sub-groups, in the order of keys()."""
        return [g for _, g in self._children()]

    def items(self) -> List[Tuple[str, "Group"]]:
        """(key, sub-group) pairs, in the order of keys()."""
        return self._children()

    def __iter__(self) -> Iterator[str]:
        return iter(self.keys())

    def __len__(self) -> int:
        return len(self.keys())

    def __contains__(self, path: Any) -> bool:
        """Whether a path (relative, or from the file with a leading /) names a group."""
        if not isinstance(path, str):
            return False
        try:
            self[path]
        except NotFoundError:
            return False
        return True

    def get(self, path: str, default: Any = None) -> Any:
        """The group a path names, or default when there is none."""
        try:
            return self[path]
        except NotFoundError:
            return default

    def _walked(self) -> Tuple[Any, "File"]:
        """The binding a walk starts from, and the File its groups belong to."""
        raise NotImplementedError

    def walk(self, func: Callable[["WalkNode"], Optional[bool]], max_depth: int = 200, max_groups: int = 100000,
             max_items: int = 1 << 22) -> bool:
        """Walks the tree depth-first, calling func(node) for each group
        before its sub-groups (node: a WalkNode); func returning False skips
        the sub-groups. Cycles, shared sub-groups, depth and size limits and
        groups that cannot be opened are reported once each (node.state) and
        not entered. A group walks the tree below it; a file walks every
        section in file order (the limits hold for each), a section group that
        cannot be opened, as the last section of a file cut short may be,
        being a node of state 'error' saying why. Returns whether every group
        was entered."""
        root, file = self._walked()
        return _velfile.walk(root, lambda node: func(WalkNode(file, node)), None, max_depth, max_groups,
                             max_items)

    def _visit_prefix(self) -> int:
        """How much of each walked path a visit drops."""
        raise NotImplementedError

    def visititems(self, func: Callable[[str, "Group"], Any]) -> Any:
        """Calls func(name, group) for every group below this one, depth-first,
        name being its path relative to this one. Each group is met once: a
        reference cycle or a second path to a shared sub-group is not
        followed, nor a group that cannot be opened. A func returning anything
        but None stops the visit, which returns that value."""
        found: List[Any] = []
        prefix = self._visit_prefix()

        def enter(node: Any) -> bool:
            if found or node.group is None:
                return False
            if len(node.path) > prefix:
                value = func(node.path[prefix:], node.group)
                if value is not None:
                    found.append(value)
                    return False
            return True

        self.walk(enter)
        return found[0] if found else None

    def visit(self, func: Callable[[str], Any]) -> Any:
        """As visititems(), calling func(name) only."""
        return self.visititems(lambda name, _: func(name))


class File(_Mapping):
    """A container file. Made by velfile.open() or velfile.create(); closed by
    close(), by a with block, or when the file and every object taken from it
    are gone.

    A mapping of its section groups, keyed '0', '1', ...; f[path] is the group
    a path names ('0/Channel 1/Gate A', or '/0/Channel 1/Gate A').
    """

    __slots__ = ("_f", "_mode", "__weakref__")

    def __init__(self, binding: Any, mode: str) -> None:
        self._f = binding
        self._mode = mode

    @property
    def path(self) -> str:
        """The path as given."""
        return self._f.path()

    @property
    def mode(self) -> str:
        """'r' (read), 'a' (adding a section) or 'w' (created)."""
        return self._mode

    @property
    def closed(self) -> bool:
        """Whether the file was closed."""
        return not self._f.is_open()

    @property
    def writable(self) -> bool:
        """Whether the file takes a new section (modes 'a' and 'w')."""
        return self._f.writable()

    @property
    def sections(self) -> List[_velfile.Section]:
        """The sections in file order (start, byte order, string format, size)."""
        return self._f.sections()

    @property
    def groups(self) -> List["Group"]:
        """The section groups, one per section."""
        return [Group(self, self._f.section_group(s.index)) for s in self._f.sections()]

    def _children(self) -> List[Tuple[str, "Group"]]:
        return [(str(g.section.index), g) for g in self.groups]

    def keys(self) -> List[str]:
        """The sections' keys, '0', '1', ..., read without opening their
        groups: in a file cut short, f[k] of the cut section raises saying
        why, while the others open."""
        return [str(s.index) for s in self.sections]

    def _visit_prefix(self) -> int:
        return 0

    def _walked(self) -> Tuple[Any, "File"]:
        return self._f, self

    def __getitem__(self, path: str) -> "Group":
        """The group a path names: the section's index (or @offset), then one
        step per level: a name, #id (the first reference with that item id) or
        [index] (the entry at that directory index); '\\' escapes '/' and '\\'
        in a name. A leading / is allowed."""
        return Group(self, self._f.group(_absolute(path)[1]))

    def create_group(self, name: str) -> "Group":
        """Starts the file's new section, whose section group this is. A file
        takes one new section per opening: a second call raises ReadOnlyError."""
        return Group(self, self._f.create_group(name))

    def close(self) -> None:
        """Closes the file (for a written file: writes its directories and
        headers, and raises when that fails). Its groups, items and data then
        raise ClosedError. A closed file closes again without effect."""
        self._f.close()

    def abandon(self) -> None:
        """Closes the file without committing its new section: no reader will
        find it. An appended file keeps its earlier sections exactly (the bytes
        written for the new one lie after the last section, unread); a created
        file is left with no section, which no reader takes for a container.
        A file opened for reading is simply closed."""
        self._f.abandon()

    def __enter__(self) -> "File":
        return self

    def __exit__(self, kind: Any, *exc: Any) -> bool:
        """A with block left normally closes the file; left by an exception,
        it abandons the new section (see abandon())."""
        if kind is None:
            self._f.close()
        else:
            self._f.abandon()
        return False

    def __repr__(self) -> str:
        return f"<velfile.File {self.path!r} mode '{self._mode}'{' (closed)' if self.closed else ''}>"

    _repr_html_ = file_html


class WalkNode:
    """One group as Group.walk() meets it."""

    __slots__ = ("group", "state", "reason", "name", "path", "depth", "index", "id", "entries", "directory",
                 "section_start")

    def __init__(self, file: File, node: Any) -> None:
        #: The Group, or None when the walk did not enter it.
        self.group = None if node.group is None else Group(file, node.group)
        #: 'open', 'cycle', 'shared', 'too deep', 'limit' or 'error'; reason says why it was not entered.
        self.state, self.reason = node.state, node.reason
        self.name, self.path, self.depth = node.name, node.path, node.depth
        #: Index and item id of its reference in the parent's directory.
        self.index, self.id = node.index, node.id
        #: Entries of its directory; the directory's offset in its section, and the section's offset.
        self.entries, self.directory, self.section_start = node.entries, node.directory, node.section_start

    def __repr__(self) -> str:
        return f"<velfile.WalkNode {self.path!r} {self.state}>"


class Group(_Mapping):
    """A group: a named directory of items, with sub-groups. Light: it refers
    to its file, which stays open while the group is alive.

    A mapping of its sub-groups (see keys()); `id in g` tells whether it holds
    an item of that id.
    """

    __slots__ = ("_file", "_g", "__weakref__")

    def __init__(self, file: File, binding: Any) -> None:
        self._file = file
        self._g = binding

    @property
    def name(self) -> str:
        """The group's name (settable on a group being written; more than 31 characters are refused)."""
        return self._g.name()

    @name.setter
    def name(self, name: str) -> None:
        self._g.set_name(name)

    @property
    def path(self) -> str:
        """The group's path (see File.__getitem__)."""
        return self._g.path()

    @property
    def file(self) -> File:
        """The file of the group."""
        return self._file

    @property
    def section(self) -> _velfile.Section:
        """The section the group lies in."""
        return self._g.section()

    @property
    def writable(self) -> bool:
        """Whether the group was made in this opening and can be written."""
        return self._g.writable()

    @property
    def groups(self) -> List["Group"]:
        """The sub-groups in directory order, each named in its path by the
        shortest step that names it alone."""
        return [Group(self._file, g) for g in self._g.groups()]

    @property
    def directory(self) -> List["Item"]:
        """Every item in directory order, the name item and group references included."""
        return [Item(self, it) for it in self._g.items()]

    def item(self, id: int) -> "Item":
        """The first item with this id; NotFoundError when there is none."""
        return Item(self, self._g.item(item_id(id, self.path)))

    def _children(self) -> List[Tuple[str, "Group"]]:
        skip = len(self.path) + 1
        return [(g.path[skip:], g) for g in self.groups]

    def _visit_prefix(self) -> int:
        return len(self.path) + 1

    def __contains__(self, key: Any) -> bool:
        """An item id (int), or a group path (str)."""
        if isinstance(key, (int, np.integer)) and not isinstance(key, bool):
            return 0 <= key <= 0xFFFF and self._g.has_item(int(key))
        return super().__contains__(key)

    def __getitem__(self, path: str) -> "Group":
        """The sub-group a relative path names ('Channel 1/Gate A', '#3/[2]'),
        or, with a leading /, the group a path names from the file."""
        absolute, path = _absolute(path)
        return self._file[path] if absolute else Group(self._file, self._g.group(path))

    def create_group(self, name: str, id: int = 0) -> "Group":
        """Makes a sub-group with this name, recorded under item id id."""
        return Group(self._file, self._g.create_group(name, item_id(id, self.path, writing=True)))

    def write_item(self, id: int, value: Any, type: Any = None) -> None:
        """Writes an item into a group being written.

        The type is an ItemType, its name ('int16', 'utf16', ...) or a numpy
        dtype; without one it comes from the value: str -> UTF16, bytes -> RAW,
        int -> INT32 (UINT32 past its range), float -> FLOAT64, a numpy array or
        list -> its dtype (integers as INT32, else UINT32, when every value
        fits). Types QUAD8 and QUAD9 take uint32 pairs, shape (..., 2). A value
        that cannot be written as the type asked for raises WrongTypeError
        naming it; nothing is narrowed. An id outside 0 to 65535, or 10000 (the
        name item), raises InvalidError.
        """
        from ._api import write_item

        write_item(self, item_id(id, self.path, writing=True), value, type)

    @property
    def data(self) -> Any:
        """The group read as a data group; UnsupportedError when it has no data
        class with a layout."""
        from ._api import DataGroup

        return DataGroup(self, self._g.data())

    def write_data(self, samples: Any, has_data: Any = None, *, markers: Any = None, data_class: int = 1,
                   axes: Optional[Sequence[Tuple[float, float]]] = None, sample_type: Any = None,
                   fields: Optional[dict] = None) -> Any:
        """Makes this group (being written) a data group, from a numpy array of
        shape (second, first, samples).

        data_class 1 stores each point's samples in a record of its own;
        has_data (a boolean array of shape (second, first) exactly) leaves the
        points without data out; markers (integers of that shape: 0, 1 or 2,
        the format's three markers of a point without data, or 3 for a point
        with data) says which marker each one gets. A block class (2, 3, 5,
        6, 17, 20, 30 to 37, 40 to 43) stores one block and takes no mask.
        axes gives (factor, offset) for the second, first and sample axes
        (non-zero finite factors, values float32 holds). fields gives the
        data descriptor's other fields by name (units, angles, settings).
        The sample type is the array's dtype (sample_type names another for
        raw uint8 entries). A group takes one write_data. Returns the data
        group as written.
        """
        from ._api import write_data

        return write_data(self, samples, has_data, markers=markers, data_class=data_class, axes=axes,
                          sample_type=sample_type, fields=fields)

    def data_writer(self, shape: Sequence[int], dtype: Any, *, data_class: int = 1,
                    axes: Optional[Sequence[Tuple[float, float]]] = None, sample_type: Any = None,
                    fields: Optional[dict] = None) -> Any:
        """Makes this group (being written) a data group written line by line,
        as an acquisition produces it: shape is (second, first, samples), the
        lines (second, first, samples) of dtype; the other arguments are
        write_data()'s. Returns a velfile.DataWriter, also a context manager:

            with g.data_writer((lines, points, 256), np.int16) as w:
                for j in range(lines):
                    w.write_line(j, acquire(j), has_data=mask(j))
        """
        from ._api import data_writer

        return data_writer(self, shape, dtype, data_class=data_class, axes=axes, sample_type=sample_type,
                           fields=fields)

    def descriptor(self, module: str) -> dict:
        """The group decoded by a module (its short name, as 'gate', or its
        prefix, as 'ggate'; see velfile.modules()): a dict of every field by
        name, in the order of the module's table. A file does not record which
        module wrote a group; guess_module() offers a guess."""
        return self._g.read_descriptor(module)

    def write_descriptor(self, module: str, fields: dict, previous: Optional[dict] = None) -> None:
        """Writes a descriptor from a dict of fields (names as descriptor()
        gives them; fields not given keep the module's defaults, or on a group
        that holds the module's items already, the group's own values). With
        previous (the fields the group already holds; by default the group's
        own descriptor where it has one), only what changed is written.
        Unknown names and values a field cannot hold raise InvalidError before
        anything is written."""
        self._g.write_descriptor(module, fields, previous)

    def guess_module(self) -> dict:
        """A guess of the module that wrote the group, from its item ids: a dict
        with the module (None when nothing matched), the ids matched and
        unmatched, and a note saying that this is a guess and how good it is."""
        return self._g.guess_module()

    def _walked(self) -> Tuple[Any, File]:
        return self._g, self._file

    def __repr__(self) -> str:
        return f"<velfile.Group {self.path!r} name {self.name!r}>"

    _repr_html_ = group_html


class Item:
    """One entry of a group's directory."""

    __slots__ = ("_group", "_i", "__weakref__")

    def __init__(self, group: Group, binding: Any) -> None:
        self._group = group
        self._i = binding

    @property
    def id(self) -> int:
        """The item id."""
        return self._i.id()

    @property
    def type(self) -> Union[ItemType, int]:
        """The item type (an ItemType; the bare code for a type no ItemType names)."""
        return item_type(self._i.type())

    @property
    def type_name(self) -> str:
        """The item type's name ('int16', 'utf16', ...)."""
        return _velfile.type_name(self._i.type())

    @property
    def count(self) -> int:
        """Number of elements; for a group reference, the sub-group's entries."""
        return self._i.count()

    @property
    def index(self) -> int:
        """Position in the group's directory."""
        return self._i.index()

    @property
    def group(self) -> Group:
        """The group holding the item."""
        return self._group

    @property
    def file(self) -> File:
        """The file of the item."""
        return self._group.file

    def _shape(self) -> Tuple[int, ...]:
        t, count = self._i.type(), self._i.count()
        if t > ItemType.RAW:
            return (count * _velfile._size_of(t),)
        return (count, 2) if t in _PAIR_TYPES else (count,)

    def _read(self, dtype: np.dtype, shape: Tuple[int, ...]) -> np.ndarray:
        # A count from a damaged file must not size an allocation: a value
        # that lies outside its section is refused before one is made.
        if _velfile._size_of(self._i.type()) * self._i.count() > 4:
            self._i.extent()
        out = np.empty(shape, dtype)
        self._i.read(out)
        return out

    @property
    def value(self) -> Any:
        """The value: a str for strings; an int or float for one number; a
        numpy array (host byte order) for several numbers, for raw bytes
        (uint8) and for QUAD8 and QUAD9 (uint32 pairs, shape (count, 2)); the
        Group for a group reference."""
        t = self._i.type()
        if t == ItemType.GROUP:
            return self._group[f"[{self.index}]"]
        if t in _TEXT_TYPES:
            return self._i.text()
        a = self._read(_velfile._dtype_of(t), self._shape())
        if a.size == 1 and t in _SCALAR_TYPES:
            return a.item(0)
        return a

    def value_as(self, type: Any) -> Any:
        """The value converted to an item type (an ItemType, a name such as
        'int16', or a numpy dtype) by the package's one conversion rule, the
        C++ layer's: WrongTypeError, naming the value, when the type cannot
        hold it (70000 as int16; a float as an integer unless integral and in
        range; float64 as float32 only within its range). An int or float
        for one number, else a numpy array."""
        from ._api import _type_code, convert

        t = self._i.type()
        if t not in _SCALAR_TYPES:
            raise WrongTypeError(f"item {self.id} is {self.type_name}: only numbers convert (read it with value)")
        try:
            a = convert(self._read(_velfile._dtype_of(t), self._shape()), _type_code(type))
        except WrongTypeError as e:
            raise WrongTypeError(f"item {self.id}: {e}") from None
        return a.item(0) if a.size == 1 else a

    def _bytes(self) -> np.ndarray:
        """The value as stored, elements in host order (strings too)."""
        return self._read(np.dtype(np.uint8), (_velfile._size_of(self._i.type()) * self._i.count(),))

    def _extent(self) -> Tuple[str, int, int, bool]:
        mappable(self._group)
        offset, size, host_order = self._i.extent()
        return self.file.path, offset, size, host_order

    def view(self) -> np.ndarray:
        """The item's elements as a read-only numpy view on a memory map of the
        file, without reading them, where its section is in the host's byte
        order; elsewhere they are read (and swapped) as value reads them.

        The view keeps its file open. As with numpy.memmap, a file truncated by
        another process under a live view is the one case the package cannot
        guard: touching the lost pages then ends the process (SIGBUS).
        """
        from ._api import mapped

        t = self._i.type()
        if t in _TEXT_TYPES or t == ItemType.GROUP:
            raise WrongTypeError(f"item {self.id} is {self.type_name}: only numbers and raw bytes have a view")
        shape = (self.count, 2) if t in _PAIR_TYPES else (self.count,)
        dtype = _velfile._dtype_of(t)
        if self.count * dtype.itemsize * len(shape) <= 4:  # held in the directory entry, not in the file
            return np.asarray(self.value, dtype=dtype).reshape(shape)
        view = mapped(self._extent(), dtype, shape, self.file)
        return view if view is not None else np.asarray(self.value, dtype=dtype).reshape(shape)

    def __repr__(self) -> str:
        return (f"<velfile.Item id {self.id} {self.type_name} x {self.count} at [{self.index}]: "
                f"{item_text(self, 60)}>")

    _repr_html_ = item_html

