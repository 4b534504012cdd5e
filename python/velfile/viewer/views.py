"""What the viewer's server reads. Each view takes an open file and a
request's query (strings), reads only what it shows and returns a dict
ready for JSON or, for the scans, a Binary of their values, which the page
draws. Views block: the server runs answer() in its thread pools."""
from __future__ import annotations

import json
import math
import os
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple

import numpy as np

from .. import _api
from .._html import item_text
from .._tree import Group
from .._types import _TEXT_TYPES, ItemType
from .._velfile import BadPathError, Error, InUseError, InvalidError, NotFoundError, UnsupportedError, modules

MAX_GROUPS = 5000  # groups listed in a file's tree
MAX_ITEMS = 2000  # items listed for a group
MAX_ELEMENTS = 1 << 16  # elements of one item's full value
MAX_LIST = 256  # elements of a list-valued descriptor field
MAX_TEXT = 1 << 20  # bytes of UTF-8 of one text item's full value
DATA_CLASS_ITEM = 10400  # the item that makes a group a data group

_MODULES = sorted(m["name"] for m in modules())

Query = Mapping[str, str]


class RequestError(Exception):
    """A request the viewer cannot answer: an HTTP status and a sentence."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status


class Superseded(Exception):
    """A request that a newer one replaced, or whose client went away."""


def status_of(error: BaseException) -> int:
    """The HTTP status that answers a request which failed with error."""
    from ..analysis import Cancelled

    if isinstance(error, RequestError):
        return error.status
    if isinstance(error, (Superseded, Cancelled)):
        return 409
    if isinstance(error, (NotFoundError, FileNotFoundError)):  # a group, or a file gone from the disk
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

    def path(self, index: int) -> str:
        if not 0 <= index < len(self.paths):
            raise RequestError(404, f"no file {index}: the viewer serves files 0 to {len(self.paths) - 1}")
        return self.paths[index]

    def open(self, index: int) -> Any:
        return _api.open(self.path(index))

    def stamp(self, index: int) -> str:
        """The file's size and modification time: a change on disk changes it."""
        st = os.stat(self.path(index))
        return f"{st.st_size}-{st.st_mtime_ns}"


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
    section_names = {str(s.index): s.name for s in f.sections}

    def visit(node: Any) -> bool:
        if len(groups) >= MAX_GROUPS:
            return False
        g = node.group
        # A section group that cannot be opened: the name its section read.
        name = node.name if node.name or node.depth or node.state != "error" else section_names.get(node.path, "")
        groups.append({"path": node.path, "name": name, "depth": node.depth, "items": node.entries,
                       "state": node.state, "reason": node.reason, "data": g is not None and DATA_CLASS_ITEM in g})
        return True

    f.walk(visit, max_groups=MAX_GROUPS)
    # Whether every group is listed: cycles, shared and damaged groups are, as nodes saying so.
    complete = len(groups) < MAX_GROUPS and not any(g["state"] in ("limit", "too deep") for g in groups)
    sections = [{"index": s.index, "start": s.start, "size": s.size, "byte_order": s.byte_order,
                 "strings": s.string_format} for s in f.sections]
    return {"name": os.path.basename(f.path), "sections": sections, "groups": groups,
            "complete": complete, "notes": layout_notes(f.sections, os.path.getsize(f.path))}


def layout_notes(sections: Sequence[Any], size: int) -> List[str]:
    """What the page says of a file whose sections do not end where the file
    does: one cut short (an interrupted copy or acquisition), whose groups
    are shown as far as they lie in the file, or bytes after the last
    section, which no reader sees."""
    last = sections[-1]
    end = last.start + last.size
    if end > size:
        return [f"the file is cut short: section {last.index} declares {last.size} bytes from offset {last.start}, "
                f"of which {size - last.start} are in the file; the groups shown are those whose directories lie "
                "in it, and data past its end cannot be read"]
    if end < size:
        return [f"{size - end} bytes after the last section are not shown: a section cut short before its group "
                "could be named, one abandoned before it was closed, or other data"]
    return []


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
    shown = min(it.count, MAX_ELEMENTS) if isinstance(value, np.ndarray) else it.count
    if isinstance(value, str) and len(value) > MAX_TEXT // 4:
        value = value.encode("utf-8", "surrogatepass")[:MAX_TEXT].decode("utf-8", "ignore")
        shown = len(value)
    return {"index": index, "id": it.id, "type": it.type_name, "count": it.count, "value": plain(value),
            "shown": shown}


# --- the scans: values, which the page draws ---


# The array types the page reads (its typed arrays).
_PAGE_TYPES = ("i1", "u1", "i2", "u2", "i4", "u4", "f4", "f8")


class Binary:
    """An answer of arrays: a JSON header, then each array's bytes
    (little-endian, each starting at a multiple of 8), as the page reads
    them. The header's "arrays" lists name, dtype, shape and offset."""

    def __init__(self, header: Dict[str, Any], arrays: Sequence[Tuple[str, np.ndarray]]) -> None:
        self.header, self.arrays = header, arrays

    def encode(self) -> bytes:
        parts: List[bytes] = []
        table, offset = [], 0
        for name, array in self.arrays:
            if array.dtype.str[1:] not in _PAGE_TYPES:
                array = array.astype(np.float64)  # 64-bit integers, half floats: as the page can draw them
            array = np.ascontiguousarray(array, array.dtype.newbyteorder("<"))
            table.append({"name": name, "dtype": array.dtype.str[1:], "shape": list(array.shape), "offset": offset})
            body = array.tobytes()
            pad = -len(body) % 8
            parts.append(body + bytes(pad))
            offset += len(body) + pad
        head = json.dumps(plain({**self.header, "arrays": table}), allow_nan=False).encode()
        head += b" " * (-(len(head) + 4) % 8)
        return len(head).to_bytes(4, "little") + head + b"".join(parts)


def _float(query: Query, name: str, default: float) -> float:
    text = query.get(name)
    if text is None or text == "":
        return default
    try:
        value = float(text)
    except ValueError:
        raise RequestError(400, f"parameter '{name}' is not a number: {text[:40]!r}") from None
    if not math.isfinite(value):
        raise RequestError(400, f"parameter '{name}' is not a finite number: {text[:40]!r}")
    return value


def _gates(data: Any, query: Query) -> Tuple[Any, Optional[Any], bool]:
    """The request's gate (gate=A:B, detect=, threshold=), its second gate
    started from the first one's detection (gate2=OFFSET:WIDTH, detect2=,
    threshold2=) and whether to measure the envelope (envelope=1)."""
    from .. import analysis

    start, stop = _gate(data, query)
    try:
        first = analysis.Gate(start, stop - start, query.get("detect", "peak"), _float(query, "threshold", 0.0))
        second = None
        if query.get("gate2"):
            offset, width = _ints(query, "gate2", ":")
            second = analysis.Gate(offset, width, query.get("detect2", "peak"), _float(query, "threshold2", 0.0))
    except InvalidError as e:
        raise RequestError(400, str(e)) from None
    return first, second, query.get("envelope", "0") == "1"


def _masked(values: np.ma.MaskedArray) -> np.ndarray:
    return values.filled(np.nan).astype(np.float32)


def _measure(source: Any, query: Query, data: Any, cancel: Optional[Callable[[], bool]]) -> Tuple[Any, Any]:
    """The first gate's measurement and, with gate2=, the second's."""
    from .. import analysis

    first, second, env = _gates(data, query)
    one = analysis.measure(source, first, envelope=env, cancel=cancel)
    two = analysis.measure(source, second, interface=first, envelope=env, cancel=cancel) if second else None
    return one, two


def cscan(f: Any, query: Query, cancel: Optional[Callable[[], bool]] = None) -> Binary:
    """The C-scans of the gate (of the second gate, with gate2=): amplitude
    and position of the detection (a sample index) at every point, NaN where
    there is none; with gate2=, also the first gate's positions, where the
    second gate starts from (position1)."""
    data = _data(f, query)
    one, two = _measure(data, query, data, cancel)
    shown = two or one
    amplitude = shown.amplitude
    top = float(amplitude.max()) if amplitude.count() else 0.0
    arrays = [("amplitude", _masked(amplitude)), ("position", _masked(shown.position))]
    if two is not None:
        arrays.append(("position1", _masked(one.position)))
    return Binary({"gate": [one.gate.start, one.gate.start + one.gate.width], "second_gate": two is not None,
                   "max": top, "shape": list(amplitude.shape)}, arrays)


def point(f: Any, query: Query, cancel: Optional[Callable[[], bool]] = None) -> Binary:
    """One point's A-scan: its samples (and their envelope, with
    envelope=1), and what each gate measured there."""
    data = _data(f, query)
    s, f_ = _point(data, query)
    samples, marker = data.read((s, f_, slice(None)))
    has = bool(marker >= 3)
    one, two = _measure(samples.reshape(1, 1, -1), query, data, None)
    gates = []
    for m in (one, two) if two else (one,):
        if has:
            a, p = m.amplitude[0, 0], m.position[0, 0]
            gates.append({"amplitude": None if a is np.ma.masked else float(a),
                          "position": None if p is np.ma.masked else int(p)})
        else:
            gates.append({"amplitude": None, "position": None})
    from ..analysis import envelope_of

    arrays = [("samples", samples)]
    if query.get("envelope", "0") == "1":
        arrays.append(("envelope", envelope_of(samples)))
    return Binary({"point": [s, f_], "has_data": has, "gates": gates, "type": str(data.dtype)}, arrays)


def line(f: Any, query: Query, cancel: Optional[Callable[[], bool]] = None) -> Binary:
    """A B-scan: along 'first', the points of second index line; along
    'second', those of first index line: samples (points x samples) and
    which points have data."""
    data = _data(f, query)
    along = query.get("along", "first")
    if along not in ("first", "second"):
        raise RequestError(400, f"a line runs along 'first' or 'second', not {along[:40]!r}")
    index = _int(query, "line")
    count = data.shape[0 if along == "first" else 1]
    if not 0 <= index < count:
        raise RequestError(400, f"line {index} lies outside the {count} lines along the {along} axis")
    key = (index, slice(None), slice(None)) if along == "first" else (slice(None), index, slice(None))
    samples, markers = data.read(key)
    if query.get("envelope", "0") == "1":
        from ..analysis import envelope_of

        samples = envelope_of(samples)
    return Binary({"line": index, "along": along}, [("samples", samples), ("has", (markers >= 3).astype(np.uint8))])


VIEWS: Dict[str, Callable[..., Any]] = {"tree": tree, "group": group, "item": item}
SCANS: Dict[str, Callable[..., Binary]] = {"cscan": cscan, "point": point, "line": line}
HEAVY = ("cscan",)  # the views that read every point


def answer(files: Files, name: str, query: Query, cancel: Optional[Callable[[], bool]] = None) -> Any:
    """The answer of a view: its file is open while the view reads it. Every
    answer carries the file's stamp (size and modification time) as it was
    before the file was opened, so the page notices a file changed on disk."""
    if name == "files":
        return listing(files)
    view = VIEWS.get(name) or SCANS.get(name)
    if view is None:
        raise RequestError(404, f"the viewer has no view '{name[:40]}'")
    index = _int(query, "file")
    stamp = files.stamp(index)
    with files.open(index) as f:
        out = view(f, query, cancel) if name in SCANS else view(f, query)
    if isinstance(out, Binary):
        out.header["stamp"] = stamp
    else:
        out["stamp"] = stamp
    return out
