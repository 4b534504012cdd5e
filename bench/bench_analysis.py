#!/usr/bin/env python3
"""Gated amplitude and time of flight (velfile.analysis.measure) against the
plain numpy expression on a memory map of the same samples.

    PYTHONPATH=<build>/python /usr/bin/python3 bench/bench_analysis.py [--runs N] [DIR]

A 400 x 300 x 512 int16 scan (117 MiB) is written to DIR (default /tmp)
and removed afterwards. For gates of 64 and of 512 samples, each timed as
the best of --runs (5) with a warm page cache:
  numpy     m = numpy.memmap of the group's records;
            w = m[..., a:b].astype(np.int32)   (widened, so that -32768 does not wrap)
            np.abs(w).max(-1), np.abs(w).argmax(-1)
  measure   velfile.analysis.measure(data, Gate(a, b - a)) on the data group
            (ranged reads in chunks of 4 MiB, points without data masked)
  measure on the memmap: the same function over the numpy.memmap
Every result is checked against the numpy one, and a point holding -32768
against 32768.
"""
from __future__ import annotations

import argparse
import os
import sys
import time

import numpy as np

import velfile
import velfile.analysis as va

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_python import best_of, records_offset  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory", nargs="?", default="/tmp")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    path = os.path.join(args.directory, "bench_analysis.vel")
    shape = (300, 400, 512)
    rng = np.random.default_rng(2)
    samples = rng.integers(-3000, 3000, shape, dtype=np.int16)
    samples[7, 9, 100] = -32768
    with velfile.create(path) as f:
        f.create_group("root").create_group("scan").write_data(samples)
    del samples
    try:
        m = np.memmap(path, np.int16, "r", records_offset(path, "0/scan"), shape)
        with velfile.open(path) as f:
            data = f["0/scan"].data
            print(f"{shape[0]} x {shape[1]} x {shape[2]} int16, best of {args.runs} runs, warm page cache, "
                  f"load {os.getloadavg()[0]:.1f}")
            print(f"{'gate':>6} {'numpy memmap':>13} {'measure':>9} {'measure, memmap':>16}")
            for a, b in ((100, 164), (0, 512)):
                ref = {}

                def numpy_expr() -> None:
                    w = m[..., a:b].astype(np.int32)
                    ref["amplitude"], ref["position"] = np.abs(w).max(-1), np.abs(w).argmax(-1) + a

                def ours() -> None:
                    ref["ours"] = va.measure(data, va.Gate(a, b - a))

                def ours_memmap() -> None:
                    ref["memmap"] = va.measure(m, va.Gate(a, b - a))

                times = best_of({"numpy": numpy_expr, "measure": ours, "memmap": ours_memmap}, args.runs)
                for name in ("ours", "memmap"):
                    got = ref[name]
                    assert np.array_equal(got.amplitude.filled(-1), ref["amplitude"]), name
                    assert np.array_equal(got.position.filled(-1), ref["position"]), name
                assert ref["ours"].amplitude[7, 9] == 32768 or not a <= 100 < b
                print(f"{b - a:>6} {times['numpy'] * 1e3:>10.0f} ms {times['measure'] * 1e3:>6.0f} ms "
                      f"{times['memmap'] * 1e3:>13.0f} ms")
    finally:
        os.remove(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
