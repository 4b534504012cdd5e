"""Items of every type both ways, values refused, files and errors."""
import errno
import gc
import os
import re
import subprocess
import sys

import numpy as np
import pytest

import velfile

# (value written, type asked for, type stored, value read back)
ITEMS = [
    (-5, None, 6, -5),
    (3_000_000_000, None, 7, 3_000_000_000),
    (2.5, None, 11, 2.5),
    ("Gate \u00e9\u4e2d", None, 12, "Gate \u00e9\u4e2d"),
    ("narrow", "char", 1, "narrow"),
    (b"\x00\x01\xfe", None, 13, np.array([0, 1, 254], np.uint8)),
    (np.array([-1, 2], np.int8), None, 2, np.array([-1, 2], np.int8)),
    (200, "uint8", 3, 200),
    (np.arange(-3, 3, dtype=np.int16), None, 4, np.arange(-3, 3, dtype=np.int16)),
    ([1, 65535], "uint16", 5, np.array([1, 65535], np.uint16)),
    (np.array([-7, 8], np.int64), None, 6, np.array([-7, 8], np.int32)),
    (np.array([1, 2**32 - 1], np.uint32), None, 7, np.array([1, 2**32 - 1], np.uint32)),
    ([[1, 2], [3, 2**32 - 1]], 8, 8, np.array([[1, 2], [3, 2**32 - 1]], np.uint32)),
    ([2**31, 2**32 - 1], None, 7, np.array([2**31, 2**32 - 1], np.uint32)),
    (np.array([-2**31, 2**31 - 1]), velfile.INT32, 6, np.array([-2**31, 2**31 - 1], np.int32)),
    (2**53, "float64", 11, float(2**53)),
    ([5, 6], "quad9", 9, np.array([[5, 6]], np.uint32)),
    (np.float32(1.5), None, 10, 1.5),
    ([0.25, -1e300], "float64", 11, np.array([0.25, -1e300])),
    (np.zeros(0, np.float32), None, 10, np.zeros(0, np.float32)),
    (np.arange(5000, dtype=np.float64), None, 11, np.arange(5000, dtype=np.float64)),
]


def test_items_round_trip(path):
    with velfile.create(path) as f:
        g = f.create_group("root").create_group("values", 7)
        for i, (value, type_, _, _) in enumerate(ITEMS):
            g.write_item(100 + i, value, type=type_)
    with velfile.open(path) as f:
        g = f["0/values"]
        assert [g.path, g.name, f["0"].item(7).count] == ["0/values", "values", len(ITEMS) + 1]
        for i, (_, _, stored, expected) in enumerate(ITEMS):
            item = g.item(100 + i)
            assert item.type == stored, i
            got = item.value
            if isinstance(expected, np.ndarray):
                assert got.dtype == expected.dtype and np.array_equal(got, expected), i
            else:
                assert type(got) is type(expected) and got == expected, i


@pytest.mark.parametrize("value,type_", [
    (300, "uint8"), (-1, "uint32"), (2**40, None), (1.5, "int16"), (np.nan, "int32"), (1e39, "float32"),
    (2**24 + 1, "float32"), (True, None), ("text", "int16"), (5, "utf16"), ("\u00e9", "char"),
    ([1, 2, 3], 8), (np.array(["a"]), None), (1, "group"), (1, "no such type"),
])
def test_values_refused(path, value, type_):
    with velfile.create(path) as f:
        g = f.create_group("root")
        with pytest.raises(velfile.WrongTypeError):
            g.write_item(1, value, type=type_)


@pytest.mark.parametrize("value,type_,named", [
    (300, "uint8", "300, which uint8"), (-3, "uint16", "-3, which uint16"), (2**70, "int32", f"{2**70}, which int32"),
    ([1, 2**63], None, f"{2**63}, which neither"), ([1, -(2**31) - 1], None, f"{-(2**31) - 1}, which neither"),
    (np.array([1, 70000]), "int16", "70000, which int16"), (np.array([5, 2**40]), None, f"{2**40}, which neither"),
    (2**53 + 1, "float64", f"{2**53 + 1}, which float64"), (2**1100, "float64", f"{2**1100}, which float64"),
    (np.array([2**24 + 1]), "float32", "16777217, which float32"),
    ([0, 1.5], "int8", "1.5, which is not an integer"),
])
def test_integers_refused_by_value(path, value, type_, named):
    with velfile.create(path) as f:
        with pytest.raises(velfile.WrongTypeError, match=f"item 1: holds {re.escape(named)}"):
            f.create_group("root").write_item(1, value, type=type_)


def test_values_read_as_a_type_by_the_layers_rule(path):
    with velfile.create(path) as f:
        g = f.create_group("root")
        g.write_item(1, np.float32(1e38))
        g.write_item(2, [70000, -5])
        g.write_data(np.array([[[300, -2]]], np.int16))
    with velfile.open(path) as f:
        g = f["0"]
        assert g.item(1).value_as("float64") == float(np.float32(1e38))
        assert list(g.item(2).value_as(np.int32)) == [70000, -5]
        for item, type_, named in ((1, "int16", "1e+38, which int16"), (2, "int16", "70000, which int16"),
                                   (2, "uint32", "-5, which uint32")):
            with pytest.raises(velfile.WrongTypeError, match=f"item {item}: holds {re.escape(named)}"):
                g.item(item).value_as(type_)
        assert g.data.read_as("float64").tolist() == [[[300.0, -2.0]]]
        with pytest.raises(velfile.WrongTypeError, match="holds 300, which uint8"):
            g.data.read_as("uint8")
    assert issubclass(velfile.OutOfRangeError, IndexError) and velfile.OutOfRangeError.reason == "OutOfRange"


@pytest.mark.parametrize("write", [
    lambda g: g.write_item(70000, 1), lambda g: g.write_item(-1, 1), lambda g: g.write_item(10000, "name"),
    lambda g: g.write_item(2**64, 1), lambda g: g.create_group("x", 65536), lambda g: g.create_group("x", 10000),
    lambda g: g.item(-5),
])
def test_item_ids_refused(path, write):
    with velfile.create(path) as f:
        with pytest.raises(velfile.InvalidError, match="item id"):
            write(f.create_group("root"))


def test_file_rules(path):
    with velfile.create(path) as f:
        root = f.create_group("root")
        with pytest.raises(velfile.ReadOnlyError, match="one new section"):
            f.create_group("again")
        root.create_group("a/b \u00e9")
    f = velfile.open(path)
    g = f["0"]["a\\/b \u00e9"]
    assert g.name == "a/b \u00e9" and "a\\/b \u00e9" in f["0"] and "x" not in f["0"] and 10000 in g
    with pytest.raises(velfile.InUseError):
        velfile.create(path)
    with pytest.raises(velfile.NotFoundError) as e:
        f["0/none"]
    assert (e.value.reason, e.value.file, e.value.group) == ("NotFound", path, "0") and isinstance(e.value, LookupError)
    with pytest.raises(velfile.BadPathError):
        f["x/y"]
    f.close()
    with pytest.raises(velfile.ClosedError):
        g.directory
    assert f.closed and "closed" in repr(f)


def test_a_with_block_left_by_an_exception_abandons_the_new_section(path):
    with velfile.create(path) as f:
        f.create_group("kept")
    before = open(path, "rb").read()
    with pytest.raises(KeyError):
        with velfile.open(path, "a") as f:
            f.create_group("lost").write_item(1, np.arange(100.0))
            raise KeyError("the acquisition failed")
    after = open(path, "rb").read()
    assert after[:len(before)] == before and len(after) > len(before)  # the lost bytes lie after it
    assert velfile.check(path) == []
    f = velfile.open(path, "a")
    f.create_group("given up")
    f.abandon()
    assert f.closed
    with velfile.open(path) as f:
        assert [g.name for g in f.groups] == ["kept"]


def _hold(path, ready, done):
    """In another process: holds path open for reading until told."""
    with velfile.open(path) as f:
        assert len(f.sections) >= 1
        ready.set()
        done.wait(30)


def test_readers_and_an_appender_share_a_file(path, tmp_path):
    import multiprocessing

    with velfile.create(path) as f:
        f.create_group("root")
    ctx = multiprocessing.get_context("spawn")
    ready, done = ctx.Event(), ctx.Event()
    other = ctx.Process(target=_hold, args=(path, ready, done))
    other.start()
    try:
        assert ready.wait(30)
        with velfile.open(path) as a, velfile.open(path) as b:  # beside the other process's reader
            with velfile.open(path, "a") as w:
                w.create_group("added")
                with pytest.raises(velfile.InUseError, match="second writer"):
                    velfile.open(path, "a")
            assert len(a.sections) == len(b.sections) == 1
        with pytest.raises(velfile.InUseError, match="readers"):
            velfile.create(path)  # would truncate it under the other process
        assert len(velfile.open(path).sections) == 2
    finally:
        done.set()
        other.join(30)
    assert other.exitcode == 0


def test_each_failure_to_open_says_why(tmp_path):
    missing = str(tmp_path / "none.A01")
    with pytest.raises(FileNotFoundError) as e:
        velfile.open(missing)
    assert isinstance(e.value, velfile.NotFoundError) and e.value.errno == errno.ENOENT and "no such file" in str(e.value)
    with pytest.raises(FileNotFoundError, match="no such directory"):
        velfile.create(str(tmp_path / "no" / "x.A01"))
    with pytest.raises(velfile.InvalidError, match="is a directory"):
        velfile.open(str(tmp_path))
    (tmp_path / "t.A01").write_bytes(b"text, no container" * 8)
    with pytest.raises(velfile.NotContainerError):
        velfile.open(str(tmp_path / "t.A01"))
    assert issubclass(velfile.PermissionDeniedError, PermissionError)
    with pytest.raises(FileNotFoundError):
        velfile.check(missing)
    with pytest.raises(velfile.NotContainerError):
        velfile.check(str(tmp_path / "t.A01"))


DAMAGE = {
    "empty": lambda data: b"",
    "garbage": lambda data: bytes(range(256)) * 4,
    "cut": lambda data: data[: len(data) // 2],
    "text": lambda data: b"not a container file at all\n" * 10,
}


@pytest.mark.parametrize("how,error", [
    ("empty", velfile.NotContainerError), ("garbage", velfile.NotContainerError),
    ("text", velfile.NotContainerError), ("cut", velfile.Error),
])
def test_damaged_files(path, how, error):
    with velfile.create(path) as f:
        f.create_group("root").create_group("values", 7).write_item(1, np.arange(100, dtype=np.int32))
    data = open(path, "rb").read()
    open(path, "wb").write(DAMAGE[how](data))
    with pytest.raises(error):
        with velfile.open(path) as f:
            f["0/values"].item(1).value
    with pytest.raises(velfile.NotFoundError):
        velfile.open(path + ".missing")


def test_slots_released_by_garbage_collection(path):
    with velfile.create(path) as f:
        f.create_group("root").create_group("child")
    for _ in range(3 * velfile.MAX_OPEN_FILES):
        kept = velfile.open(path)["0/child"]  # the file lives as long as its group
        del kept
        copies = [velfile.open(path) for _ in range(3)]  # one handle, counted
        del copies
    gc.collect()
    files = []
    with pytest.raises(velfile.TooManyFilesError):
        for i in range(velfile.MAX_OPEN_FILES + 1):
            files.append(velfile.create(f"{path}.{i}"))
    del files
    gc.collect()
    velfile.open(path).close()


def test_html_escapes_every_text(path):
    name = "<script>alert('x')</script>&"
    with velfile.create(path) as f:
        g = f.create_group(name)
        g.create_group(name).write_item(5, name)
    with velfile.open(path) as f:
        pages = [f._repr_html_(), f["0"]._repr_html_(), f["0"].groups[0]._repr_html_()]
    for page in pages:
        assert "<script>" not in page and "&lt;script&gt;" in page


def test_flipped_bytes_raise_only_velfile_errors(tmp_path):
    """Every read of a damaged file either works or raises velfile.Error."""
    data = open(os.path.join(os.path.dirname(__file__), "data", "sample-s390x.A01"), "rb").read()
    damaged_path = tmp_path / "damaged.A01"
    outcomes = {"read": 0, "refused": 0}

    def attempt(read):
        try:
            read()
            outcomes["read"] += 1
        except velfile.Error:
            outcomes["refused"] += 1

    def visit(node):
        if node.group is None:
            return
        for it in node.group.directory:
            attempt(lambda: it.value)
            attempt(it.view)
        attempt(node.group._repr_html_)
        if node.group.name in ("Scan", "Peaks"):
            dg = node.group.data
            attempt(lambda: (dg.samples, dg.has_data, dg.axes, dg.samples_view(), dg._repr_html_()))

    for pos in range(0, len(data), 13):
        damaged = bytearray(data)
        damaged[pos] ^= 0xA5
        damaged_path.write_bytes(bytes(damaged))
        attempt(lambda: velfile.open(damaged_path)["0"].walk(visit))
    assert outcomes["read"] > 2000 and outcomes["refused"] > 200


@pytest.mark.parametrize("quantity", [17, 65536, 4294967295])
def test_records_that_overlap_are_a_damaged_group(path, quantity):
    """A sample quantity patched into a sound file: each point would read its
    neighbours' samples, the last one the next group's values."""
    import struct
    import subprocess

    with velfile.create(path) as f:
        root = f.create_group("root")
        root.create_group("Scan").write_data(np.arange(4 * 5 * 16, dtype=np.int16).reshape(4, 5, 16))
        root.create_group("Other").write_item(1, [7] * 40, velfile.UINT32)
    raw = bytearray(open(path, "rb").read())
    at = raw.find(struct.pack("=HHI", 10430, velfile.UINT32, 1))
    raw[at + 8:at + 12] = struct.pack("=I", quantity)
    open(path, "wb").write(raw)
    with pytest.raises(velfile.OutsideSectionError, match="0/Scan.*(overlap|outside)"):
        velfile.open(path)["0/Scan"].data.samples
    problems = velfile.check(path)
    assert len(problems) == 1 and "0/Scan" in problems[0]
    if os.environ.get("VELFILE_VELINSPECT"):
        run = subprocess.run([os.environ["VELFILE_VELINSPECT"], "check", path], capture_output=True, text=True)
        assert run.returncode == 1 and "damaged" in run.stdout


_THREADS = """
import sys, threading
import numpy as np
import velfile

with open(sys.argv[1], "rb") as raw, velfile.open(raw, block_size=65536) as f:
    data, stop = f["0/Scan"].data, threading.Event()

    def ask():
        while not stop.is_set():
            data.shape, data.dtype, f["0/Scan"].path

    asker = threading.Thread(target=ask)
    asker.start()
    for line in list(range(20)) * 3:
        assert data[line, :, :4].sum() == 2000
    stop.set()
    asker.join()
"""


def test_calls_from_threads_never_deadlock(path):
    """A file read through a file object calls back into Python with the
    layer's lock held; another thread's calls, the cheapest included, must
    wait for that lock without holding the GIL."""
    with velfile.create(path) as out:  # 20 MB: more than the reader keeps
        out.create_group("Root").create_group("Scan", 1).write_data(np.ones((20, 500, 1000), np.int16))
    try:
        subprocess.run([sys.executable, "-c", _THREADS, path], check=True, timeout=120)
    except subprocess.TimeoutExpired:
        pytest.fail("two threads' calls deadlocked")
