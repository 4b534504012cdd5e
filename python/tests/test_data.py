"""Data groups both ways, slices, memory maps, threads and the descriptors
of every module."""
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import velfile

RNG = np.random.default_rng(7)
SAMPLES = RNG.integers(-30000, 30000, size=(6, 7, 9), dtype=np.int16)
MASK = RNG.random((6, 7)) > 0.3
BLOCK = RNG.random((5, 4, 3)).astype(np.float32)
AXES = [(0.5, 10.0), (2.0, -1.0), (0.01, 0.0)]


@pytest.fixture
def scans(path):
    with velfile.create(path) as f:
        root = f.create_group("root")
        one = root.create_group("Scan A").write_data(SAMPLES, has_data=MASK, axes=AXES)
        assert one.shape == SAMPLES.shape and one.dtype == np.int16
        root.create_group("Peaks").write_data(BLOCK, data_class=2)
    with velfile.open(path) as f:
        yield f["0/Scan A"].data, f["0/Peaks"].data


KEYS = [(), (2,), (-1, 3), (slice(1, 4), slice(None, None, 2), slice(3, 7)), (..., 5),
        (slice(None, None, -2), 0, slice(8, 0, -3)), (slice(2, 2),), (3, 4, 5), (slice(None), slice(1, 3), -1)]


@pytest.mark.parametrize("key", KEYS)
def test_slices_read_as_numpy_does(scans, key):
    for data, array in zip(scans, (np.where(MASK[..., None], SAMPLES, 0), BLOCK)):
        try:
            expected = array[key]
        except IndexError:
            with pytest.raises(IndexError):
                data[key]
            continue
        assert data[key].shape == expected.shape and np.array_equal(data[key], expected)


def test_data_facts(scans):
    one, block = scans
    assert np.array_equal(one.has_data, MASK) and block.has_data.all() and (block.markers == 3).all()
    assert np.allclose(one.axes.second, 10.0 + 0.5 * np.arange(6)) and np.allclose(one.axes.first, -1 + 2.0 * np.arange(7))
    assert one.descriptor["dataTypeName"] == "int16" and one.descriptor["sampleQty"] == 9
    assert (block.data_class, block.shape, block.dtype) == (2, BLOCK.shape, np.float32)
    view = block.samples_view()
    assert np.array_equal(view, BLOCK) and not view.flags.writeable and isinstance(view, np.memmap)
    with pytest.raises(velfile.UnsupportedError):
        one.samples_view()
    assert "class 1" in repr(one) and "<table>" in one._repr_html_()


def test_bulk_item_view(path):
    values = np.arange(1 << 16, dtype=np.uint16)
    with velfile.create(path) as f:
        f.create_group("root").write_item(9, values)
    with velfile.open(path) as f:
        item = f["0"].item(9)
        view = item.view()
        assert np.array_equal(item.value, values)
    assert np.array_equal(view, values)


def test_thread_pool_reads_as_serial(scans, path):
    one, _ = scans
    keys = [(i % 6, slice(None), slice(i % 9)) for i in range(64)]
    serial = [velfile.open(path)["0/Scan A"].data[k] for k in keys]
    with ThreadPoolExecutor(4) as pool:
        threaded = list(pool.map(lambda k: velfile.open(path)["0/Scan A"].data[k], keys))
    assert all(np.array_equal(a, b) for a, b in zip(serial, threaded))


def _field_value(i, type_, count):
    if type_ in (1, 12):
        return f"t{i}"
    if type_ in (10, 11):
        return i % 4 + 0.5 if count == 1 else [i + 1.0, 2.0]
    return 1


@pytest.mark.parametrize("module", [m["name"] for m in velfile.modules()])
def test_descriptor_round_trip(path, module):
    fields = next(m["fields"] for m in velfile.modules() if m["name"] == module)
    sent = {name: _field_value(i, t, n) for i, (name, _, t, n) in enumerate(fields)}
    sent.update(groupName="g")
    sent.pop("dataReference", None)  # write_data's: an address, which write_descriptor refuses
    with velfile.create(path) as f:
        g = f.create_group("root").create_group("g")
        g.write_descriptor(module, sent)
        guess = g.guess_module()
        assert guess["unmatched"] == 0 and "guess" in guess["note"], guess
        with pytest.raises(velfile.InvalidError):
            f["0"].create_group("h").write_descriptor(module, {"noSuchField": 1})
    with velfile.open(path) as f:
        got = f["0/g"].descriptor(module)
    for name in ("layoutVersion", "thicknessMeasurement"):
        sent.pop(name, None)
    assert {k: got[k] for k in sent} == sent
    assert len(velfile.modules()) == 21


def _contents(f):
    """Every item value and data group of a file, by path."""
    out = {}

    def visit(node):
        for it in node.group.directory:
            out[(node.path, it.id)] = (it.type, it.count, None if it.type == 0 else it.value)
        if node.group.name in ("Scan", "Peaks"):
            descriptor = node.group.data.descriptor
            descriptor.pop("groupName")  # see test_foreign_descriptor_text
            out[node.path] = (node.group.data.samples, node.group.data.has_data)
            out[node.path + " descriptor"] = tuple(descriptor.items())

    assert f["0"].walk(visit)
    return out


@pytest.mark.skipif(not os.environ.get("VELFILE_SAMPLE_WRITER"), reason="needs VELFILE_SAMPLE_WRITER (ctest sets it)")
def test_foreign_byte_order_reads_as_host(tmp_path):
    host = str(tmp_path / "host.A01")
    subprocess.run([os.environ["VELFILE_SAMPLE_WRITER"], host], check=True)
    foreign = os.path.join(os.path.dirname(__file__), "data", "sample-s390x.A01")
    with velfile.open(foreign) as theirs, velfile.open(host) as ours:
        assert [theirs.sections[0].byte_order, ours.sections[0].byte_order] == ["big", sys.byteorder]
        a, b = _contents(theirs), _contents(ours)
        assert a.keys() == b.keys() and len(a) > 20
        for key in a:
            for x, y in zip(a[key], b[key]):
                assert (np.array_equal(x, y) if isinstance(x, np.ndarray) else x == y), key
        assert np.array_equal(theirs["0/Peaks"].data.samples_view(), ours["0/Peaks"].data.samples_view())


def test_foreign_descriptor_text():
    with velfile.open(os.path.join(os.path.dirname(__file__), "data", "sample-s390x.A01")) as f:
        assert f["0/Scan"].data.descriptor["groupName"] == "Scan"


@pytest.mark.skipif(not os.environ.get("VELFILE_SAMPLE_WRITER"), reason="needs VELFILE_SAMPLE_WRITER (ctest sets it)")
def test_python_writes_as_the_layer_does(tmp_path):
    """The sample of write_sample.cpp, written from Python: the same bytes."""
    theirs, ours = str(tmp_path / "cpp.A01"), str(tmp_path / "python.A01")
    subprocess.run([os.environ["VELFILE_SAMPLE_WRITER"], theirs], check=True)
    with velfile.create(ours) as f:
        root = f.create_group("Sample")
        g = root.create_group("Items \u00e9", 1)
        for id_, value, type_ in [(2, [-1, 2, -3], "int8"), (3, 200, "uint8"), (4, [-2, 300, -4000], "int16"),
                                  (5, 65000, "uint16"), (6, [-5, 70000], None), (7, 4000000000, None),
                                  (8, [[1, 2], [0x01020304, 0xA0B0C0D0]], "quad8"), (9, [7, 8], "quad9"),
                                  (10, [1.5, -2.25], "float32"), (11, 3.125, None), (12, "Gate \u00e9", None),
                                  (13, b"\1\2\3\4\5\6", None), (14, b"\1\2\3", None), (15, "narrow", "char")]:
            g.write_item(id_, value, type=type_)
        samples = (np.arange(60) * 37 - 900).astype(np.int16).reshape(3, 4, 5)
        mask = np.ones((3, 4), bool)
        mask[1, 1] = False
        root.create_group("Scan", 2).write_data(samples, mask, axes=[(1, 0), (0.5, 0), (1, 0)])
        block = (np.arange(24, dtype=np.float32) * 0.25 - 1).reshape(3, 4, 2)
        root.create_group("Peaks", 3).write_data(block, data_class=2, axes=[(1, 0), (0.5, 0), (1, 0)])
    assert open(ours, "rb").read() == open(theirs, "rb").read()


def test_a_descriptor_over_data_writes_only_what_differs(path):
    samples = np.arange(2 * 3 * 8, dtype=np.int16).reshape(2, 3, 8)
    with velfile.create(path) as f:
        g = f.create_group("root").create_group("Scan")
        g.write_data(samples, markers=np.array([[3, 0, 3], [1, 2, 3]]), fields={"firstAngle": 60.0})
        count = len(g.directory)
        g.write_descriptor("data", {"secondAngle": 30.0})
        assert len(g.directory) - count < 10, "a second full descriptor"
        with pytest.raises(velfile.InvalidError, match="one write_data"):
            g.write_data(samples)
        with pytest.raises(velfile.InvalidError, match="dataReference"):
            g.write_descriptor("data", {"dataReference": 64})
    data = velfile.open(path)["0/Scan"].data
    assert np.array_equal(data.samples[data.has_data], samples[data.has_data])
    assert data.markers.tolist() == [[3, 0, 3], [1, 2, 3]]
    assert (data.descriptor["firstAngle"], data.descriptor["secondAngle"]) == (60.0, 30.0)


@pytest.mark.parametrize("kwargs,said", [
    (dict(has_data=np.ones((3, 2), bool)), r"shape \(second, first\) = \(2, 3\)"),
    (dict(has_data=np.ones((2, 3), int)), "boolean array"),
    (dict(markers=np.full((2, 3), 5)), "markers hold 5"),
    (dict(markers=np.full((2, 3), -1)), "markers hold -1"),
    (dict(markers=np.full((2, 3), 7.9)), "must be integers"),
    (dict(axes=[(0.0, 0.0), (1.0, 0.0), (1.0, 0.0)]), "factor is 0"),
    (dict(axes=[(np.nan, 0.0), (1.0, 0.0), (1.0, 0.0)]), "factor nan"),
    (dict(axes=[(1.0, 0.0), (1.0, 1e300), (1.0, 0.0)]), "offset 1e"),
])
def test_write_data_refuses_what_it_would_store_wrong(path, kwargs, said):
    with velfile.create(path) as f:
        g = f.create_group("root")
        with pytest.raises(velfile.InvalidError, match=said):
            g.write_data(np.zeros((2, 3, 4), np.int16), **kwargs)
        g.write_data(np.zeros((2, 3, 4), np.int16))


def test_a_scan_written_line_by_line_is_the_dense_write(tmp_path):
    rng = np.random.default_rng(5)
    samples = rng.integers(-100, 100, (6, 5, 7), dtype=np.int16)
    mask = rng.random((6, 5)) > 0.3
    axes, fields = [(0.5, 1), (2, 0), (0.01, 0)], {"firstAngle": 60.0}
    dense, lines = str(tmp_path / "dense.A01"), str(tmp_path / "lines.A01")
    with velfile.create(dense) as f:
        f.create_group("S").create_group("Scan").write_data(samples, has_data=mask, axes=axes, fields=fields)
    with velfile.create(lines) as f:
        with f.create_group("S").create_group("Scan").data_writer(samples.shape, np.int16, axes=axes,
                                                                    fields=fields) as w:
            for j in range(6):
                w.write_line(j, samples[j], has_data=mask[j])
    assert open(dense, "rb").read() == open(lines, "rb").read()
    with velfile.create(lines) as f:
        w = f.create_group("S").data_writer((3, 2, 4), np.float32)
        with pytest.raises(velfile.InvalidError, match="the next is line 0"):
            w.write_line(1, np.zeros((2, 4), np.float32))
        with pytest.raises(velfile.WrongTypeError):
            w.write_line(0, np.zeros((2, 4)))
        w.write_line(0, np.ones((2, 4), np.float32))
        with pytest.raises(velfile.InvalidError, match="lines 1 to 2 of 3 not written"):
            with w:
                pass
    with velfile.open(lines) as f:
        assert f["0"].data.has_data.tolist() == [[True, True], [False, False], [False, False]]
