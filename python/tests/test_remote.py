"""Files read where they lie: over HTTP from a local counting server, through
file objects and fsspec's memory://, by velfile.open, xarray's engine and
open_many."""
import gc
import io
import os
import shutil
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
import xarray as xr

import velfile
from velfile import _remote

http_server = pytest.importorskip("http_server")
pytest.importorskip("aiohttp")


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    folder = tmp_path_factory.mktemp("site")
    writer = os.environ.get("VELFILE_WRITE_INSPECTION")
    if not writer:
        pytest.skip("VELFILE_WRITE_INSPECTION names no example writer")
    subprocess.run([writer, str(folder / "inspection.A01")], check=True, capture_output=True)
    url, served, stop = http_server.serve(folder)
    yield folder, url, served
    stop()


def test_the_example_over_http_in_few_requests(site):
    folder, url, served = site
    served.reset()
    with velfile.open(url + "/inspection.A01") as f:
        f.visititems(lambda path, group: [i.value for i in group.directory if i.count < 64] and None)
        assert served.requests <= 4  # a HEAD and three blocks of the example's metadata
        served.reset()
        line = f["0/Scan A"].data[3, :, 16:48]
        assert served.requests == 1 and served.bytes <= 2 * _remote.BLOCK
    with velfile.open(str(folder / "inspection.A01")) as f:
        assert np.array_equal(line, f["0/Scan A"].data[3, :, 16:48])
        want = f["0/Scan A"].data.samples
    ds = xr.open_dataset(url + "/inspection.A01", engine="velfile", group="0/Scan A", chunks={"second": 40})
    assert np.array_equal(ds.samples.values, want)
    many = velfile.open_many([url + "/inspection.A01"] * 2, group="0/Scan A")
    assert np.array_equal(many[1].values, want)


def test_file_objects_memory_urls_and_writes_refused(tmp_path):
    path = str(tmp_path / "a.A01")
    samples = np.arange(2 * 3 * 5, dtype=">i2").reshape(2, 3, 5)
    with velfile.create(path) as f:
        f.create_group("R").create_group("Scan").write_data(samples)
    raw = open(path, "rb").read()
    import fsspec

    fsspec.filesystem("memory").pipe("/r/a.A01", raw)
    for source in (io.BytesIO(raw), "memory://r/a.A01"):
        with velfile.open(source) as f:
            assert np.array_equal(f["0/Scan"].data.samples, samples)
    ds = xr.open_dataset(io.BytesIO(raw), engine="velfile", chunks={"second": 1})  # tasks share one reader
    assert np.array_equal(ds.samples.compute(scheduler="threads").values, samples)
    with pytest.raises(velfile.InvalidError, match="for reading only"):
        velfile.open("memory://r/a.A01", "a")
    with pytest.raises(velfile.NotContainerError):
        velfile.open(io.BytesIO(b"\0" * 4096))


class _Calling(io.BytesIO):
    """Reads that make a velfile call of their own, or stall."""

    def __init__(self, raw, local, stall=None):
        super().__init__(raw)
        self.local, self.stall, self.inner, self.victim = local, stall, [], None

    def read(self, n=-1):
        if self.tell() > 0 and self.victim:
            self.victim = None  # a File in a reference cycle, finalised here
            gc.collect()
        if self.tell() > 0:
            if self.stall:
                self.stall.wait(20)
            try:
                velfile.open(self.local).close()
            except velfile.Error as e:
                self.inner.append(e)
        return super().read(n)


def test_a_call_from_inside_a_read_is_refused_and_a_stall_times_out(tmp_path):
    path = str(tmp_path / "a.A01")
    with velfile.create(path) as f:
        f.create_group("R").create_group("Scan").write_data(np.ones((300, 300, 8), np.int16))
    raw = open(path, "rb").read()
    calling = _Calling(raw, path)
    cycle = [velfile.open(path)]
    cycle.append(cycle)
    calling.victim = cycle
    del cycle
    with velfile.open(calling, block_size=4096) as f:
        f["0/Scan"].data.samples
    assert calling.inner and all(isinstance(e, velfile.InUseError) for e in calling.inner)
    velfile.open(path).close()  # closes the finalised one too: no reader is left
    with velfile.create(path) as f:
        f.create_group("R").create_group("Scan").write_data(np.ones((300, 300, 8), np.int16))
    stall = threading.Event()
    stalled = _Calling(raw, path)
    with velfile.open(stalled, block_size=4096, timeout=0.5) as f:
        stalled.stall = stall  # from now on
        start = time.monotonic()
        with pytest.raises(velfile.FileIOError):
            f["0/Scan"].data.samples
        assert time.monotonic() - start < 5
        with velfile.open(path) as other:  # the library is free again
            assert other["0/Scan"].data[0, 0, 0] == 1
    stall.set()
    # Nor does a transfer stalled for good keep a finished program from ending.
    script = ("import io, sys, threading, velfile\n"
              "class Stalled(io.BytesIO):\n"
              "    def read(self, n=-1):\n"
              "        if self.tell() > 0: threading.Event().wait()\n"
              "        return super().read(n)\n"
              "try: velfile.open(Stalled(open(sys.argv[1], 'rb').read()), block_size=4096, timeout=0.2)\n"
              "except velfile.FileIOError: print('timed out')\n")
    done = subprocess.run([sys.executable, "-c", script, path], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert done.returncode == 0 and done.stdout == "timed out\n", done.stderr


def _zarr(refs):
    return xr.open_dataset("reference://", engine="zarr",
                           backend_kwargs={"consolidated": False, "storage_options": {"fo": refs}})


def test_zarr_references_read_as_velfile_does(site, tmp_path):
    pytest.importorskip("zarr")
    folder, url, served = site
    sample = os.path.join(os.path.dirname(__file__), "data", "sample-s390x.A01")
    whole = str(tmp_path / "whole.A01")  # every line's records back to back: a chunk a line
    with velfile.create(whole) as f:
        f.create_group("R").create_group("Scan").write_data(np.arange(4 * 3 * 8, dtype=np.int16).reshape(4, 3, 8))
    cases = [(sample, "0/Scan", (1, 1, 5)), (sample, "0/Peaks", (1, 4, 2)), (whole, "0/Scan", (1, 3, 8)),
             (url + "/inspection.A01", "0/Scan A", None), (str(folder / "inspection.A01"), "0/Peaks", None)]
    for source, group, chunks in cases:
        refs = velfile.references(source, group=group)
        assert refs["version"] == 1
        ds = _zarr(refs)
        with velfile.open(source) as f:
            data = f[group].data
            assert np.array_equal(ds.samples.values, data.samples) and ds.samples.dtype == data.dtype
            assert np.array_equal(ds.has_data.values, data.has_data)
            assert np.array_equal(ds.sample.values, data.axes.sample)
        assert chunks is None or ds.samples.encoding["chunks"] == chunks
    sparse = velfile.references(sample, group="0/Scan", missing=True)
    assert len([k for k in sparse["refs"] if k.startswith("samples/") and "/." not in k]) < 12
    out = str(tmp_path / "refs.json")
    from velfile.__main__ import main

    assert main(["references", whole, "--group", "0/Scan", "-o", out]) == 0
    import json

    assert np.array_equal(_zarr(json.load(open(out))).samples.values, velfile.open(whole)["0/Scan"].data.samples)
