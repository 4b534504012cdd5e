"""What the viewer's server reads and draws. Each view takes an open file
and a request's query (strings), reads only what it shows and returns a dict
ready for JSON. Views block: the server runs answer() in its thread pool."""
from __future__ import annotations

import base64
import io
import math
import os
import threading
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple

import numpy as np

from .. import _api, _axes
from .._html import item_text
from .._tree import Group
from .._types import _TEXT_TYPES, ItemType
from .._velfile import BadPathError, Error, InUseError, InvalidError, NotFoundError, UnsupportedError, modules

MAX_GROUPS = 5000  # groups listed in a file's tree
MAX_ITEMS = 2000  # items listed for a group
MAX_ELEMENTS = 1 << 16  # elements of one item's full value
MAX_LIST = 256  # elements of a list-valued descriptor field
DPI = 80
DATA_CLASS_ITEM = 10400  # the item that makes a group a data group

# matplotlib draws one figure at a time (its text and font caches are shared).
_DRAW = threading.Lock()
_MODULES = sorted(m["name"] for m in modules())

Query = Mapping[str, str]


class RequestError(Exception):
    """A request the viewer cannot answer: an HTTP status and a sentence."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status


def status_of(error: BaseException) -> int:
    """The HTTP status that answers a request which failed with error."""
    if isinstance(error, RequestError):
        return error.status
    if isinstance(error, NotFoundError):
        return 404
    if isinstance(error, PermissionError):
        return 403
    if isinstance(error, InUseError):
        return 409
    if isinstance(error, (BadPathError, InvalidError, IndexError, ValueError)):
        return 400
    if isinstance(error, Error):
        return 422  # a file that cannot be read as asked: damaged, unsupported
    return 500


class Files:
    """The files named on the command line, by index. Each request opens its
    file and closes it when answered, so that the viewer holds no file open
    between requests (other programs may open and rewrite it meanwhile)."""

    def __init__(self, paths: Sequence[str]) -> None:
        self.paths = [os.path.abspath(os.fspath(p)) for p in paths]

    def open(self, index: int) -> Any:
        if not 0 <= index < len(self.paths):
            raise RequestError(404, f"no file {index}: the viewer serves files 0 to {len(self.paths) - 1}")
        return _api.open(self.paths[index])


def plain(value: Any) -> Any:
    """A value as JSON holds it: arrays as lists, non-finite numbers as text,
    raw bytes in hex."""
    if isinstance(value, np.ndarray):
        value = value.tolist()
    elif isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, float):
        return value if math.isfinite(value) else repr(value)
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).hex()
    return value


def _int(query: Query, name: str, default: Optional[int] = None) -> int:
    text = query.get(name)
    if text is None:
        if default is None:
            raise RequestError(400, f"the request lacks its parameter '{name}'")
        return default
    try:
        return int(text)
    except ValueError:
        raise RequestError(400, f"parameter '{name}' is not an integer: {text[:40]!r}") from None


def _ints(query: Query, name: str, sep: str) -> Tuple[int, int]:
    parts = query.get(name, "").split(sep)
    try:
        a, b = (int(p) for p in parts)
        return a, b
    except ValueError:
        raise RequestError(400, f"parameter '{name}' is not two integers separated by '{sep}'") from None


def _group(f: Any, query: Query) -> Group:
    path = query.get("group")
    if not path:
        raise RequestError(400, "the request lacks its parameter 'group'")
    return f[path]


def _data(f: Any, query: Query) -> Any:
    data = _group(f, query).data
    if data.data_class == 10:
        raise UnsupportedError(f"'{data.group.path}' holds variable records (data class 10): it has no scans")
    return data


def _point(data: Any, query: Query) -> Tuple[int, int]:
    s, f = _ints(query, "point", ",")
    seconds, firsts, _ = data.shape
    if not (0 <= s < seconds and 0 <= f < firsts):
        raise RequestError(400, f"point ({s}, {f}) lies outside the {seconds} x {firsts} points of the data")
    return s, f


def _gate(data: Any, query: Query) -> Tuple[int, int]:
    n = data.shape[2]
    start, stop = _ints(query, "gate", ":") if "gate" in query else (0, n)
    if not 0 <= start < stop <= n:
        raise RequestError(400, f"gate {start}:{stop} is not a range of the {n} samples of each point")
    return start, stop


# --- the files and their groups ---


def listing(files: Files) -> Dict[str, Any]:
    """The files served, by index (none is opened)."""
    return {"files": [{"index": i, "name": os.path.basename(p), "path": p} for i, p in enumerate(files.paths)]}


def tree(f: Any, query: Query) -> Dict[str, Any]:
    """A file's sections and its groups, depth-first, each with its item
    count and whether it holds acquired data."""
    groups: List[Dict[str, Any]] = []

    def visit(node: Any) -> bool:
        if len(groups) >= MAX_GROUPS:
            return False
        g = node.group
        groups.append({"path": node.path, "name": node.name, "depth": node.depth, "items": node.entries,
                       "state": node.state, "reason": node.reason, "data": g is not None and DATA_CLASS_ITEM in g})
        return True

    complete = all([root.walk(visit, max_groups=MAX_GROUPS) for root in f.groups])
    sections = [{"index": s.index, "start": s.start, "size": s.size, "byte_order": s.byte_order,
                 "strings": s.string_format} for s in f.sections]
    return {"name": os.path.basename(f.path), "sections": sections, "groups": groups, "complete": complete and len(groups) < MAX_GROUPS}


def _item_row(item: Any) -> Dict[str, Any]:
    row = {"index": item.index, "id": item.id, "type": item.type_name, "count": item.count}
    if item.type == ItemType.GROUP:
        try:
            row.update(value=f"group of {item.count} entries", whole=True, group=item.value.path)
        except Error as e:
            row.update(value=f"not readable: {e}", whole=True)
        return row
    text = item_text(item)
    shortened = text.endswith(("...", " elements")) or (item.type not in _TEXT_TYPES and item.count > 12)
    row.update(value=text, whole=not shortened)
    return row


def _axis(coords: np.ndarray) -> Dict[str, Any]:
    n = len(coords)
    return {"count": n, "start": plain(coords[0]) if n else 0.0,
            "step": plain(coords[1] - coords[0]) if n > 1 else 1.0, "end": plain(coords[-1]) if n else 0.0}


def group(f: Any, query: Query) -> Dict[str, Any]:
    """A group's items (values shortened), its descriptor decoded by the
    module asked for or, by default, the one its item ids suggest, and for
    a data group its shape and axes."""
    g = _group(f, query)
    items = g.directory
    out: Dict[str, Any] = {"path": g.path, "name": g.name, "items": [_item_row(it) for it in items[:MAX_ITEMS]],
                           "item_count": len(items), "modules": _MODULES}
    guess = g.guess_module()
    module = query.get("module") or guess["module"]
    out.update(module=module, guess=guess["module"], note=guess["note"], fields=None)
    if module is not None:
        if module not in _MODULES:
            raise RequestError(400, f"no module is named {module[:40]!r}")
        try:
            fields = g.descriptor(module)
            out["fields"] = [[k, plain(v[:MAX_LIST] if isinstance(v, list) else v)] for k, v in fields.items()]
        except Error as e:
            out["fields_error"] = str(e)
    if DATA_CLASS_ITEM in g:
        try:
            data = g.data
            axes = data.axes
            out["data"] = {"class": data.data_class, "shape": list(data.shape), "type": str(data.dtype),
                           "scans": data.data_class != 10,
                           "axes": {name: _axis(getattr(axes, name)) for name in ("second", "first", "sample")}}
        except Error as e:
            out["data_error"] = str(e)
    return out


def item(f: Any, query: Query) -> Dict[str, Any]:
    """One item's whole value (at most MAX_ELEMENTS elements of it)."""
    g = _group(f, query)
    index = _int(query, "index")
    items = g.directory
    if not 0 <= index < len(items):
        raise RequestError(404, f"group '{g.path}' has no item [{index}]: it has {len(items)} items")
    it = items[index]
    if it.type == ItemType.GROUP:
        return {"index": index, "id": it.id, "type": it.type_name, "count": it.count, "group": it.value.path}
    value = it.view()[:MAX_ELEMENTS] if it.type not in _TEXT_TYPES and it.count > MAX_ELEMENTS else it.value
    return {"index": index, "id": it.id, "type": it.type_name, "count": it.count, "value": plain(value),
            "shown": min(it.count, MAX_ELEMENTS) if isinstance(value, np.ndarray) else it.count}


# --- the scans ---


def _picture(draw: Callable[[Any], Any], size: Tuple[float, float]) -> Tuple[Any, Callable[[], Dict[str, Any]]]:
    """Draws on a figure of fixed margins (much faster than a computed
    layout) and returns the Axes and a function that renders the PNG with
    where the Axes lie in it, so that the page maps clicks to coordinates."""
    from matplotlib.figure import Figure

    figure = Figure(figsize=size, dpi=DPI)
    figure.subplots_adjust(left=0.13, right=0.97, bottom=0.13, top=0.9)
    ax = draw(figure.add_subplot())

    def render() -> Dict[str, Any]:
        buffer = io.BytesIO()
        figure.savefig(buffer, format="png", dpi="figure", pil_kwargs={"compress_level": 1})
        height = figure.bbox.height
        x0, y0, x1, y1 = ax.get_window_extent().extents
        return {"image": "data:image/png;base64," + base64.b64encode(buffer.getvalue()).decode("ascii"),
                "frame": plain({"box": [x0, height - y1, x1, height - y0], "xlim": list(ax.get_xlim()),
                                "ylim": list(ax.get_ylim())})}

    return ax, render


def _plot() -> Any:
    from .. import plot

    return plot


def warm_up() -> None:
    """Loads matplotlib, so that the first picture comes as fast as the next."""
    with _DRAW:
        _picture(lambda ax: ax, (1, 1))[1]()
        _plot()


def cscan(f: Any, query: Query) -> Dict[str, Any]:
    """The C-scan of the gate: the peak of |sample| inside it at every point."""
    data = _data(f, query)
    start, stop = _gate(data, query)
    with _DRAW:
        _, render = _picture(lambda ax: _plot().cscan(data, gate=slice(start, stop), ax=ax), (6.4, 5.2))
        out = render()
    out.update(gate=[start, stop], x="first", y="second")
    return out


def point(f: Any, query: Query) -> Dict[str, Any]:
    """One point's A-scan: its samples, and their peak inside the gate."""
    data = _data(f, query)
    s, f = _point(data, query)
    start, stop = _gate(data, query)
    samples, marker = data.read((s, f, slice(None)))
    sample = data.axes.sample

    def draw(ax: Any) -> Any:
        _plot().ascan(data, (s, f), ax=ax)
        ax.axvspan(sample[start], sample[stop - 1], color="tab:orange", alpha=0.2, linewidth=0)
        return ax

    with _DRAW:
        _, render = _picture(draw, (6.4, 3.6))
        out = render()
    has = bool(marker >= 3)
    peak = plain(_axes.peak(samples[start:stop])) if has else None  # the C-scan's own measure
    out.update(point=[s, f], has_data=has, values=plain(samples) if has else None, gate=[start, stop], peak=peak,
               x="sample", y="value")
    return out


def line(f: Any, query: Query) -> Dict[str, Any]:
    """A B-scan: along 'first', the points of second index line; along
    'second', those of first index line. The page marks the point on it."""
    data = _data(f, query)
    along = query.get("along", "first")
    if along not in ("first", "second"):
        raise RequestError(400, f"a line runs along 'first' or 'second', not {along[:40]!r}")
    index = _int(query, "line")
    count = data.shape[0 if along == "first" else 1]
    if not 0 <= index < count:
        raise RequestError(400, f"line {index} lies outside the {count} lines along the {along} axis")
    with _DRAW:
        _, render = _picture(lambda ax: _plot().bscan(data, index, along, ax=ax), (6.4, 4.8))
        out = render()
    out.update(line=index, along=along, x=along, y="sample")
    return out


VIEWS: Dict[str, Callable[[Any, Query], Dict[str, Any]]] = {
    "tree": tree, "group": group, "item": item, "cscan": cscan, "point": point, "line": line}


def answer(files: Files, name: str, query: Query) -> Dict[str, Any]:
    """The answer of a view: its file is open while the view reads it."""
    if name == "files":
        return listing(files)
    view = VIEWS.get(name)
    if view is None:
        raise RequestError(404, f"the viewer has no view '{name[:40]}'")
    with files.open(_int(query, "file")) as f:
        return view(f, query)
