"""Files and groups as mappings of their sub-groups, item types, items shown."""
import struct

import numpy as np
import pytest

import velfile


@pytest.fixture
def odd_file(path):
    """Siblings that share names and ids, a sub-group shared by two paths and
    a reference back to the section group."""
    with velfile.create(path) as f:
        root = f.create_group("root")
        for name, id_ in [("a/b", 1), ("x", 4), ("x", 5), ("x", 5), ("", 6)]:
            root.create_group(name, id_).write_item(7, id_)
        root.create_group("values", 8).create_group("child", 4).create_group("back", 5)
        root.create_group("shared", 9)
    nodes = {}
    with velfile.open(path) as f:
        f["0"].walk(lambda n: bool(nodes.setdefault(n.name, n)))
    with open(path, "r+b") as raw:  # "shared" refers to "values"; "back" to the section group
        for name, parent, target in [("shared", "root", "values"), ("back", "child", "root")]:
            raw.seek(nodes[parent].section_start + nodes[parent].directory + 12 * nodes[name].index + 4)
            raw.write(struct.pack("<II", nodes[target].entries, nodes[target].directory))
    return path


def test_files_and_groups_are_mappings(odd_file):
    with velfile.open(odd_file) as f:
        assert list(f) == f.keys() == ["0"] and len(f) == 1 and [g.path for g in f.values()] == ["0"]
        root = f["0"]
        keys = ["a\\/b", "#4", "[3]", "[4]", "#6", "#8", "#9"]  # "shared" is named "values" now
        assert list(root) == root.keys() == keys and len(root) == 7
        assert [root[k].path for k in root] == [f"0/{k}" for k in keys]
        assert [(k, g.path) for k, g in root.items()] == [(k, g.path) for k, g in zip(keys, root.values())]
        assert [root[k].name for k in keys[:4]] == ["a/b", "x", "x", "x"]
        for present in ["0", "0/#8/child", "/0/#4", "[3]"]:
            assert present in (root if present == "[3]" else f)
        for absent in ["1", "0/none", "/0/#8/none", 7, None]:
            assert absent not in f
        assert f.get("0/none") is None and f.get("0/none", 5) == 5 and f.get("/0/#8").path == "0/#8"
        assert root["/0/#8"].path == root["#8"].path == "0/#8" and 10000 in root and 70000 not in root
        with pytest.raises(velfile.BadPathError):
            f.get("x/y")


def test_visit_meets_each_group_once(odd_file):
    with velfile.open(odd_file) as f:
        names = []
        assert f["0"].visit(names.append) is None
        assert names == ["a\\/b", "#4", "[3]", "[4]", "#6", "#8", "#8/child"]  # no cycle, no second path
        seen = []
        found = f.visititems(lambda name, g: seen.append((name, g.path)) or (g.name if g.name == "child" else None))
        assert found == "child"
        assert seen[0] == ("0", "0") and seen[-1] == ("0/#8/child", "0/#8/child")
        assert f["0/#8"].visit(lambda name: name) == "child"
    # A second section cut short inside its directory: listed, not opened; the visit goes past it.
    with velfile.open(odd_file, "a") as f:
        f.create_group("cut").write_item(1, np.arange(10, dtype=np.int32))
    with open(odd_file, "r+b") as raw:
        raw.truncate(raw.seek(0, 2) - 30)
    with velfile.open(odd_file) as f:
        assert f.keys() == ["0", "1"] and len(f) == 2 and f.visit(lambda name: None) is None
        with pytest.raises(velfile.FileIOError, match="outside the file"):
            f["1"]


def test_item_types_are_named(path):
    assert [str(t) for t in velfile.ItemType] == [velfile.type_name(t) for t in range(14)]
    assert velfile.INT16 is velfile.ItemType.INT16 == 4 and velfile.type_from_name("uint8") is velfile.UINT8
    assert velfile.type_from_name("no type") == -1
    assert all(isinstance(t, velfile.ItemType) for m in velfile.modules() for _, _, t, _ in m["fields"])
    with velfile.create(path) as f:
        g = f.create_group("root")
        g.write_item(1, 200, type=velfile.UINT8)
        g.write_item(2, [1.5, 2.5], type=velfile.FLOAT32)
        g.write_item(3, "<b>&</b>")
        g.write_item(4, np.arange(1000, dtype=np.int16))
        g.create_group("scan").write_data(np.zeros((2, 3, 4), np.int16))
    with velfile.open(path) as f:
        g = f["0"]
        assert [it.type for it in g.directory] == [velfile.UTF16, velfile.UINT8, velfile.FLOAT32, velfile.UTF16,
                                                   velfile.INT16, velfile.GROUP]
        assert all(isinstance(it.type, velfile.ItemType) for it in g.directory)
        assert f["0/scan"].data.sample_type is velfile.INT16
        assert repr(g.item(1)) == "<velfile.Item id 1 uint8 x 1 at [1]: 200>"
        assert repr(g.item(4)).endswith(": [  0   1   2 ... 997 998 999]>")
        page = g.item(3)._repr_html_()
        assert "&lt;b&gt;&amp;" in page and "<b>&" not in page and "utf16" in page
