"""velfile: the setup and acquisition container files of ultrasonic testing.

Read a file as a tree of groups and items, its acquired data as numpy arrays,
and write new files::

    import velfile
    with velfile.open("inspection.A01") as f:
        g = f["0/Channel 1/Gate A"]            # a group, by its path
        g.name, g.path, g.groups, g.items       # sub-groups and items
        g.items[3].value                         # int, float, str or numpy array
        g.descriptor("gate")                     # decoded by a module, as a dict
        scan = f["0/Scan A"].data               # a data group
        scan[2, 10:20, :64]                      # reads only that part

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
from ._velfile import (
    MAX_OPEN_FILES,
    BadPathError,
    ClosedError,
    Error,
    File,
    FileIOError,
    Group,
    InUseError,
    InvalidError,
    Item,
    NoMemoryError,
    NotContainerError,
    NotFoundError,
    OutsideSectionError,
    ReadOnlyError,
    Section,
    TooManyFilesError,
    UnsupportedError,
    WalkNode,
    WrongTypeError,
    __version__,
    modules,
    type_from_name,
    type_name,
)
from ._api import Axes, DataGroup, create, open
from ._labelled import open_many

__all__ = [
    "Axes", "BadPathError", "ClosedError", "DataGroup", "Error", "File", "FileIOError", "Group",
    "InUseError", "InvalidError", "Item", "MAX_OPEN_FILES", "NoMemoryError", "NotContainerError",
    "NotFoundError", "OutsideSectionError", "ReadOnlyError", "Section", "TooManyFilesError",
    "UnsupportedError", "WalkNode", "WrongTypeError", "__version__", "create", "modules", "open", "open_many",
    "type_from_name", "type_name",
]


def __getattr__(name: str):
    # The submodules that need matplotlib or h5py load when first named.
    if name in ("plot", "export"):
        import importlib

        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module 'velfile' has no attribute {name!r}")
