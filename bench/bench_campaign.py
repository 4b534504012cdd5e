"""A campaign of container files read as one array: a C-scan over all of
them through xarray.open_mfdataset (engine "velfile") on a dask.distributed
cluster of two worker processes, against a plain loop of velfile.open and
numpy in one process; the same campaign served over HTTP from 127.0.0.1
(requests, bytes, time); and one data slice read remotely against the same
slice read locally.

    PYTHONPATH=build/python:python/tests /usr/bin/python3 bench/bench_campaign.py [--files 100] [--mb 20] [DIR]

The files are written by the benchmark into DIR (default a temporary
folder) and removed afterwards. The server is the tests' counting server
(Tornado's StaticFileHandler).
"""
import argparse
import os
import shutil
import sys
import tempfile
import time

import warnings

import numpy as np

import velfile
from velfile._axes import cscan_values, peak

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python", "tests"))
import http_server  # noqa: E402

GROUP = "0/Scan"
FIRST, SAMPLES = 256, 256  # a line: 256 points of 256 int16 samples, 128 KiB


def write_campaign(folder, files, mb):
    seconds = max(1, int(mb * 1e6) // (FIRST * SAMPLES * 2))
    rng = np.random.default_rng(1)
    base = rng.integers(-2000, 2000, size=(seconds, FIRST, SAMPLES), dtype=np.int16)
    paths = []
    for i in range(files):
        path = os.path.join(folder, f"scan{i:03d}.A01")
        with velfile.create(path) as f:
            f.create_group("Campaign").create_group("Scan").write_data(
                np.roll(base, i, axis=0), has_data=np.ones((seconds, FIRST), bool),
                axes=[(1.0, 0.0), (0.5, 0.0), (0.01, 0.0)])
        paths.append(path)
    return paths, seconds


def loop_cscan(paths):
    out = []
    for path in paths:
        with velfile.open(path) as f:
            out.append(cscan_values(f[GROUP].data).filled(np.nan))
    return np.stack(out)


def lazy_cscan(sources):
    import xarray as xr

    ds = xr.open_mfdataset(sources, engine="velfile", group=GROUP, combine="nested", concat_dim="file",
                           chunks={"second": 64})  # 8 MiB: a task opens its file and checks its table
    # The loop's own peak of |sample|, chunk by chunk.
    values = xr.apply_ufunc(peak, ds.samples, input_core_dims=[["sample"]], dask="parallelized",
                            output_dtypes=[np.float64])
    return values.where(ds.has_data)


def timed(call):
    start = time.perf_counter()
    value = call()
    return value, time.perf_counter() - start


def main():
    warnings.filterwarnings("ignore", message="Large object")  # the has_data masks, in the graph
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=100)
    parser.add_argument("--mb", type=float, default=20)
    parser.add_argument("dir", nargs="?")
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="velfile-campaign-", dir=args.dir)
    try:
        paths, seconds = write_campaign(folder, args.files, args.mb)
        size = sum(os.path.getsize(p) for p in paths)
        print(f"campaign: {len(paths)} files of {size / len(paths) / 1e6:.1f} MB ({seconds} x {FIRST} x {SAMPLES} int16)")
        want, loop_s = timed(lambda: loop_cscan(paths))
        print(f"loop of velfile.open + numpy, one process: {loop_s:.2f} s")

        got, threads_s = timed(lambda: lazy_cscan(paths).compute(scheduler="threads", num_workers=2))
        assert np.allclose(got.values, want, equal_nan=True)
        print(f"open_mfdataset on 2 threads of this process: {threads_s:.2f} s ({threads_s / loop_s:.2f} x the loop)")

        import distributed

        url, served, stop = http_server.serve(folder)
        try:
            with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                          dashboard_address=None) as cluster, distributed.Client(cluster) as client:
                got, mf_s = timed(lambda: client.compute(lazy_cscan(paths)).result())
                assert np.allclose(got.values, want, equal_nan=True)
                print(f"open_mfdataset on a cluster of 2 worker processes: {mf_s:.2f} s "
                      f"({mf_s / loop_s:.2f} x the loop)")
                urls = [f"{url}/{os.path.basename(p)}" for p in paths]
                served.reset()
                got, http_s = timed(lambda: client.compute(lazy_cscan(urls)).result())
                assert np.allclose(got.values, want, equal_nan=True)
                print(f"the same over HTTP from 127.0.0.1: {http_s:.2f} s, {served.requests} requests, "
                      f"{served.bytes / 1e6:.1f} MB served for {size / 1e6:.1f} MB of files")

            served.reset()
            with velfile.open(urls[0]) as f:
                opened = (served.requests, served.bytes)
                served.reset()
                remote = f[GROUP].data[seconds // 2, :, 64:128]
            with velfile.open(paths[0]) as f:
                local = f[GROUP].data[seconds // 2, :, 64:128]
            assert np.array_equal(remote, local)
            print(f"one slice (a line, samples 64 to 127: {local.nbytes} bytes): remote {served.requests} request(s), "
                  f"{served.bytes} bytes (after an open of {opened[0]} requests, {opened[1]} bytes); "
                  f"local {local.nbytes} bytes")
        finally:
            stop()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
