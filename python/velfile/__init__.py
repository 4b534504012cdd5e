"""velfile: the setup and acquisition container files of ultrasonic testing.

Read a file as a tree of groups and items, its acquired data as numpy arrays,
and write new files::

    import velfile
    with velfile.open("inspection.A01") as f:
        g = f["0/Channel 1/Gate A"]            # a group, by its path
        g.name, g.path, g.directory              # the items, in directory order
        g.directory[3].value                     # int, float, str or numpy array
        g.item(3).type == velfile.INT16          # item types as velfile.ItemType
        {k: sub.name for k, sub in g.items()}    # files and groups are mappings
        f.visit(print)                           # every group below, once each
        g.descriptor("gate")                     # decoded by a module, as a dict
        scan = f["0/Scan A"].data               # a data group
        scan[2, 10:20, :64]                      # reads only that part
    with velfile.create("scan.A01") as f:        # left by an exception: abandoned
        g = f.create_group("Inspection")
        with g.data_writer((lines, points, 256), "int16") as w:
            w.write_line(0, first_line)          # one line at a time, in order

Pictures, labelled arrays and export (matplotlib, xarray with dask, h5py;
each imported only when used)::

    velfile.plot.cscan(scan, gate=slice(0, 16)).figure.savefig("cscan.png")
    scan.to_xarray()                              # an xarray.DataArray
    velfile.open_many(paths, group="0/Scan A")    # many files, lazily (dask)
    velfile.export.to_hdf5("inspection.A01", "inspection.h5")

Errors are velfile.Error, with one subclass per kind of fault (NotFoundError,
FileIOError, NotContainerError, ...). Files are closed by close(), by a with
block, or when the file and every object taken from it are gone; the library
holds at most MAX_OPEN_FILES files open at once.

Threads: every call that reads or writes releases the GIL; files can be used
from several threads at once (the library serialises its own work).
"""
from . import _velfile
from ._velfile import (
    MAX_OPEN_FILES,
    BadPathError,
    ClosedError,
    Error,
    FileIOError,
    InUseError,
    InvalidError,
    NoMemoryError,
    NoSuchFileError,
    NotContainerError,
    NotFoundError,
    OutOfRangeError,
    OutsideSectionError,
    PermissionDeniedError,
    ReadOnlyError,
    Section,
    TooManyFilesError,
    UnsupportedError,
    WrongTypeError,
    __version__,
    type_name,
)
from ._tree import File, Group, Item, WalkNode
from ._types import ItemType, item_type
from ._api import Axes, DataGroup, DataWriter, create, open
from ._labelled import open_many

GROUP, CHAR, INT8, UINT8, INT16, UINT16, INT32, UINT32, QUAD8, QUAD9, FLOAT32, FLOAT64, UTF16, RAW = ItemType


def type_from_name(name: str) -> int:
    """The item type of a name type_name() gives ('int16', ...), or of a
    decimal code; -1 for none."""
    return item_type(_velfile.type_from_name(name))


def check(path) -> list:
    """The problems velinspect check finds in a file, with the same texts
    ("0x...: what is wrong"); an empty list for a sound file. A file that
    cannot be opened raises NoSuchFileError or PermissionError, one that is
    not a container file NotContainerError."""
    import errno
    import os

    path = os.fspath(path)
    code, problems, error = _velfile._check(path)
    if code == 2:
        for kind, number, holds in ((NoSuchFileError, errno.ENOENT, not os.path.exists(path)),
                                    (PermissionDeniedError, errno.EACCES, not os.access(path, os.R_OK))):
            if holds:
                e = kind(error)
                e.errno, e.strerror, e.file = number, error, path
                raise e
        raise NotContainerError(error)
    return list(problems)


def references(path, group=None, **options) -> dict:
    """The kerchunk (version 1) references of a data group, for zarr through
    fsspec's ReferenceFileSystem (see velfile._kerchunk for the layout)::

        refs = velfile.references("scan.A01", group="0/Scan A")
        xarray.open_dataset("reference://", engine="zarr",
                            backend_kwargs={"consolidated": False, "storage_options": {"fo": refs}})

    group: the data group (default: the file's only one); url=: where the
    references say the file lies (default: path, absolute); missing=True:
    chunks of points without data left out rather than inline zeros; other
    options as velfile.open takes them."""
    from ._kerchunk import references as make

    return make(path, group=group, **options)


def modules() -> list:
    """The 21 group modules: dicts of name, prefix, descriptor type and fields
    (name, item id, item type, count), as the modules' item tables know them."""
    out = _velfile.modules()
    for module in out:
        module["fields"] = [(name, id, item_type(type), count) for name, id, type, count in module["fields"]]
    return out


__all__ = [
    "Axes", "BadPathError", "CHAR", "ClosedError", "DataGroup", "DataWriter", "Error", "FLOAT32", "FLOAT64", "File",
    "FileIOError", "GROUP", "Group", "INT16", "INT32", "INT8", "InUseError", "InvalidError", "Item", "ItemType",
    "MAX_OPEN_FILES", "NoMemoryError", "NoSuchFileError", "NotContainerError", "NotFoundError", "OutOfRangeError",
    "OutsideSectionError",
    "PermissionDeniedError", "QUAD8",
    "QUAD9", "RAW", "ReadOnlyError", "Section", "TooManyFilesError", "UINT16", "UINT32", "UINT8", "UTF16",
    "UnsupportedError", "WalkNode", "WrongTypeError", "__version__", "check", "create", "modules", "open", "open_many", "references",
    "type_from_name", "type_name",
]


def __getattr__(name: str):
    # The submodules that need matplotlib or h5py load when first named.
    if name in ("plot", "export", "xarray_backend"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'velfile' has no attribute {name!r}")
