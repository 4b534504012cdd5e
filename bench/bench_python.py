#!/usr/bin/env python3
"""The Python package against numpy.fromfile and h5py, in one run.

    PYTHONPATH=<build>/python /usr/bin/python3 bench/bench_python.py [--quick] [--runs N] [DIR]

Steps (files in DIR, default /tmp, removed afterwards):
  bulk     a 512 MiB block (an item of uint8) read into numpy: Item.value,
           against numpy.fromfile of the same bytes and h5py's read_direct of
           a contiguous dataset into a preallocated array
  class 1  a data class 1 group of 1,000,000 points of 32 int16 samples read
           with DataGroup.samples, against numpy.fromfile of as many bytes and
           h5py's read_direct of a (1000, 1000, 32) dataset
  view     Item.view() and DataGroup.samples_view() of those: a memory map
  memory   peak resident size added by each read, in a fresh process
  walk     10,000 groups with their items (probe, channel and gate
           descriptors) read from Python, against h5py visiting as many
           groups with their attributes
Timings are the best of --runs (9); the contenders alternate, each round
starting with another one; the page cache is warm (every file is read once
before). Every read is checked against what was written.
"""
from __future__ import annotations

import argparse
import os
import subprocess
import sys
import time
from typing import Callable, Dict, List

import h5py
import numpy as np

import velfile


def best_of(contenders: Dict[str, Callable[[], object]], runs: int) -> Dict[str, float]:
    names = list(contenders)
    times = {n: float("inf") for n in names}
    for n in names:
        contenders[n]()  # warm the page cache
    for r in range(runs):
        for k in range(len(names)):
            name = names[(r + k) % len(names)]
            start = time.perf_counter()
            contenders[name]()
            times[name] = min(times[name], time.perf_counter() - start)
    return times


def records_offset(path: str, group: str) -> int:
    """Absolute offset of a class 1 group's first record: its point table
    (n entries of the point entry size at the data reference), then the
    records, as gdata.h lays them out."""
    with velfile.open(path) as f:
        d = f[group].data.descriptor
        start = f[group].section.start
    return start + d["dataReference"] + ((d["firstPointCount"] * d["secondPointCount"] * d["pointEntrySize"] + 7) & ~7)


def make_files(directory: str, bulk_bytes: int, points: int, groups: int) -> Dict[str, str]:
    p = {k: os.path.join(directory, f"bench_python_{k}") for k in ("bulk.vel", "bulk.h5", "scan.vel", "scan.h5",
                                                                     "setup.vel", "setup.h5")}
    rng = np.random.default_rng(1)
    bulk = rng.integers(0, 256, bulk_bytes, dtype=np.uint8)
    with velfile.create(p["bulk.vel"]) as f:
        f.create_group("bulk").write_item(1, bulk)
    with h5py.File(p["bulk.h5"], "w") as h:
        h.create_dataset("bulk", data=bulk)
    side = int(round(points ** 0.5))
    scan = rng.integers(-2000, 2000, (side, side, 32), dtype=np.int16)
    with velfile.create(p["scan.vel"]) as f:
        f.create_group("root").create_group("scan").write_data(scan)
    with h5py.File(p["scan.h5"], "w") as h:
        h.create_dataset("scan", data=scan)
    with velfile.create(p["setup.vel"]) as f:
        root = f.create_group("setup")
        for i in range(groups):
            module = "probe" if i % 10 == 0 else "channel" if i % 10 < 6 else "gate"
            root.create_group(f"{module} {i}").write_descriptor(module, {"groupName": f"{module} {i}"})
    with velfile.open(p["setup.vel"]) as f, h5py.File(p["setup.h5"], "w") as h:
        top = h.create_group("setup")
        for g in f["0"].groups:
            hg = top.create_group(g.name)
            for it in g.directory:
                if it.id != 10000:
                    hg.attrs[f"{it.id}.{it.index}"] = it.value
    return p


def read_bulk(path: str) -> np.ndarray:
    with velfile.open(path) as f:
        return f["0"].item(1).value


def read_scan(path: str) -> np.ndarray:
    with velfile.open(path) as f:
        return f["0/scan"].data.samples


def read_h5(path: str, name: str) -> np.ndarray:
    with h5py.File(path, "r") as h:
        d = h[name]
        out = np.empty(d.shape, d.dtype)
        d.read_direct(out)
        return out


def walk_ours(path: str) -> int:
    n = 0
    with velfile.open(path) as f:
        for g in f["0"].groups:
            n += len([it.value for it in g.directory])
    return n


def walk_h5(path: str) -> int:
    n = 0
    with h5py.File(path, "r") as h:
        for g in h["setup"].values():
            n += len([v for v in g.attrs.values()])
    return n


def peak_child(kind: str, path: str) -> None:
    """Prints the peak resident size (KiB) a read adds, and the array's size.
    The peak is reset first (/proc/self/clear_refs), so what the imports
    reached before does not hide the read."""
    readers = {"velfile": read_bulk, "velfile-scan": read_scan,
               "fromfile": lambda p: np.fromfile(p, dtype=np.uint8),
               "h5py": lambda p: read_h5(p, "bulk"), "h5py-scan": lambda p: read_h5(p, "scan")}

    def hwm() -> int:
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))

    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = hwm()
    array = readers[kind](path)
    print(hwm() - before, array.nbytes // 1024)


def peak(kind: str, path: str) -> str:
    out = subprocess.run([sys.executable, __file__, "--peak-child", kind, path], check=True,
                         capture_output=True, text=True).stdout.split()
    added, array = int(out[0]), int(out[1])
    return f"+{added / 1024:.1f} MiB for {array / 1024:.1f} MiB ({(added - array) / 1024:+.1f} MiB)"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("directory", nargs="?", default="/tmp")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--quick", action="store_true", help="small sizes")
    parser.add_argument("--peak-child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak_child:
        peak_child(*args.peak_child)
        return 0
    bulk_bytes, points, groups = (8 << 20, 10000, 1000) if args.quick else (512 << 20, 1000000, 10000)
    p = make_files(args.directory, bulk_bytes, points, groups)
    try:
        rows: List[str] = []
        expected = read_h5(p["bulk.h5"], "bulk")
        read_offset = velfile.open(p["bulk.vel"])["0"].item(1)._extent()[1]
        assert np.array_equal(read_bulk(p["bulk.vel"]), expected)
        t = best_of({"velfile": lambda: read_bulk(p["bulk.vel"]),
                     "fromfile": lambda: np.fromfile(p["bulk.vel"], np.uint8, bulk_bytes, offset=read_offset),
                     "h5py": lambda: read_h5(p["bulk.h5"], "bulk")}, args.runs)
        rows.append(row(f"bulk {bulk_bytes >> 20} MiB into numpy", t))
        scan = read_h5(p["scan.h5"], "scan")
        assert np.array_equal(read_scan(p["scan.vel"]), scan)
        offset = records_offset(p["scan.vel"], "0/scan")
        t = best_of({"velfile": lambda: read_scan(p["scan.vel"]),
                     "fromfile": lambda: np.fromfile(p["scan.vel"], np.int16, scan.size, offset=offset),
                     "h5py": lambda: read_h5(p["scan.h5"], "scan")}, args.runs)
        rows.append(row(f"class 1, {points} points x 32 int16", t))
        with velfile.open(p["bulk.vel"]) as f:
            item = f["0"].item(1)
            t = best_of({"velfile": item.view}, args.runs)
            assert np.array_equal(item.view(), expected)
        rows.append(f"{'Item.view() of the bulk block':40} {t['velfile'] * 1e3:9.3f} ms")
        with velfile.open(p["bulk.vel"]) as f:
            t = best_of({"velfile": lambda: f["0"].item(1).view()}, args.runs)
        rows.append(f"{'group path + item + view()':40} {t['velfile'] * 1e3:9.3f} ms")
        for kind, path in (("velfile", p["bulk.vel"]), ("fromfile", p["bulk.vel"]), ("h5py", p["bulk.h5"]),
                           ("velfile-scan", p["scan.vel"]), ("h5py-scan", p["scan.h5"])):
            rows.append(f"{'peak memory, ' + kind:40} {peak(kind, path)}")
        assert walk_ours(p["setup.vel"]) == walk_h5(p["setup.h5"]) + groups
        t = best_of({"velfile": lambda: walk_ours(p["setup.vel"]), "h5py": lambda: walk_h5(p["setup.h5"])}, args.runs)
        rows.append(f"{'walk ' + str(groups) + ' groups with their items':40} {t['velfile'] * 1e3:9.1f} ms"
                    f" {'':12} {t['h5py'] * 1e3:9.1f} ms   h5py/ours {t['h5py'] / t['velfile']:.1f}x")
        print(f"{'step':40} {'velfile':>12} {'fromfile':>12} {'h5py':>12}   ours/fromfile ours/h5py")
        print("\n".join(rows))
    finally:
        for path in p.values():
            os.remove(path)
    return 0


def row(name: str, t: Dict[str, float]) -> str:
    return (f"{name:40} {t['velfile'] * 1e3:9.1f} ms {t['fromfile'] * 1e3:9.1f} ms {t['h5py'] * 1e3:9.1f} ms"
            f"   {t['velfile'] / t['fromfile']:13.2f} {t['velfile'] / t['h5py']:9.2f}")


if __name__ == "__main__":
    sys.exit(main())
