"""HTML summaries of files, groups and data groups for Jupyter
(_repr_html_). Every text that comes from a file is escaped."""
from __future__ import annotations

from html import escape
from typing import Any, List

import numpy as np

from ._types import _PAIR_TYPES, _TEXT_TYPES, ItemType
from ._velfile import Error, _dtype_of

_MAX_GROUPS = 200  # groups shown in a file's tree
_MAX_ITEMS = 100  # items listed for a group
_MAX_VALUE_BYTES = 4096  # larger values are summarised, not read

_STYLE = "<style>.velfile td,.velfile th{text-align:left;padding:1px 6px}.velfile ul{margin:0}</style>"


def item_text(item: Any, limit: int = 120) -> str:
    """A short text of an item's value; a large value is summarised, not read."""
    if item.type == ItemType.GROUP:
        return f"group of {item.count} entries"
    pair = 2 if item.type in _PAIR_TYPES else 1
    size = 2 if item.type in _TEXT_TYPES else _dtype_of(item.type).itemsize * pair
    if item.count * size > _MAX_VALUE_BYTES:
        return f"{item.count} elements"
    try:
        value = item.value
    except Error as e:
        return f"not readable: {e}"
    if isinstance(value, np.ndarray):
        return np.array2string(value, threshold=12, edgeitems=3, max_line_width=100)
    text = repr(value)
    return text if len(text) <= limit else text[:limit - 3] + "..."


def _table(head: List[str], rows: List[List[Any]]) -> str:
    cells = "".join(f"<th>{escape(h)}</th>" for h in head)
    body = "".join("<tr>" + "".join(f"<td>{escape(str(c))}</td>" for c in row) + "</tr>" for row in rows)
    return f"<table><tr>{cells}</tr>{body}</table>"


def _tree(root: Any) -> str:
    lines: List[str] = []
    depth = [0]

    def enter(node: Any) -> bool:
        if len(lines) >= _MAX_GROUPS:
            return False
        while depth[0] < node.depth:
            lines.append("<ul>")
            depth[0] += 1
        while depth[0] > node.depth:
            lines.append("</ul>")
            depth[0] -= 1
        note = "" if node.state == "open" else f" <i>({escape(node.state)}: {escape(node.reason)})</i>"
        lines.append(f"<li><b>{escape(node.name)}</b> <code>{escape(node.path)}</code>"
                     f" {node.entries} entries{note}</li>")
        return True

    complete = root.walk(enter, max_groups=_MAX_GROUPS)
    lines.extend("</ul>" * depth[0])
    if len(lines) >= _MAX_GROUPS or not complete:
        lines.append("<li>...</li>")
    return "<ul>" + "".join(lines) + "</ul>"


def file_html(self: Any) -> str:
    title = f"<b>velfile.File</b> <code>{escape(self.path)}</code> (mode {escape(self.mode)})"
    if self.closed:
        return f"<div class='velfile'>{title}, closed</div>"
    sections = _table(["section", "start", "size", "byte order", "strings", "name"],
                      [[s.index, s.start, s.size, s.byte_order, s.string_format, s.name] for s in self.sections])
    trees = "" if self.writable else _tree(self)  # every section, one that cannot be opened said to be so
    return f"{_STYLE}<div class='velfile'>{title}{sections}{trees}</div>"


def group_html(self: Any) -> str:
    items = self.directory
    rows = [[it.id, it.type_name, it.count, item_text(it)] for it in items[:_MAX_ITEMS]]
    more = f"<p>... {len(items) - _MAX_ITEMS} more items</p>" if len(items) > _MAX_ITEMS else ""
    subs = "" if self.writable else "".join(
        f"<li>{escape(g.name)} <code>{escape(g.path)}</code></li>" for g in self.groups[:_MAX_ITEMS])
    return (f"{_STYLE}<div class='velfile'><b>velfile.Group</b> {escape(self.name)} "
            f"<code>{escape(self.path)}</code>{_table(['id', 'type', 'count', 'value'], rows)}{more}"
            f"{'<ul>' + subs + '</ul>' if subs else ''}</div>")


def item_html(self: Any) -> str:
    row = [self.index, self.id, self.type_name, self.count, item_text(self)]
    return (f"{_STYLE}<div class='velfile'><b>velfile.Item</b> {self.id} of <code>{escape(self.group.path)}</code>"
            f"{_table(['index', 'id', 'type', 'count', 'value'], [row])}</div>")


def data_html(self: Any) -> str:
    names = ("second", "first", "sample")
    rows = []
    for name, coords in zip(names, self.axes):
        ends = [f"{coords[0]:g}", f"{coords[-1]:g}"] if len(coords) else ["", ""]
        rows.append([name, len(coords), *ends])
    shape = " x ".join(str(n) for n in self.shape)
    return (f"{_STYLE}<div class='velfile'><b>velfile.DataGroup</b> <code>{escape(self.group.path)}</code>: "
            f"class {self.data_class}, {shape} {escape(str(self.dtype))}"
            f"{_table(['axis', 'points', 'first coordinate', 'last coordinate'], rows)}</div>")
