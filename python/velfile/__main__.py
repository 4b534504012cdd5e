"""python3 -m velfile: the package's command line.

    python3 -m velfile plot FILE --group PATH --kind ascan|bscan|cscan|tof
                       [--point I,J | --line J [--along first|second]]
                       [--gate A:B | --gate-at X0:X1] [--detect peak|threshold --threshold T]
                       [--envelope] [--vmin V --vmax V] [--cmap NAME] [--db [REF]] -o OUT.png|OUT.svg
    python3 -m velfile export FILE OUT.h5|OUT.json [--gzip]
    python3 -m velfile view FILE [FILE ...] [--port N] [--host H] [--no-browser]
    python3 -m velfile references FILE [--group PATH] [--url URL] -o REFS.json

The exit codes (--help lists them) are velinspect's, from one table the
binding exposes (EXIT_CODES), with two of the package's own: 6 and 7.
"""
from __future__ import annotations

import argparse
import os
import sys
from typing import Any, Callable, List, NoReturn, Optional, Tuple

from . import __version__
from ._velfile import EXIT_CODES
from ._velfile import (BadPathError, Error, InUseError, NotContainerError, NotFoundError, TooManyFilesError,
                       UnsupportedError)

_CODES = {name: code for code, name, _, _ in EXIT_CODES}
OK, DAMAGED, UNOPENED, ARGUMENTS, OUTPUT, ABORTED, NO_DATA, OUT_OF_RANGE = (
    _CODES[name] for name in ("OK", "DAMAGED", "UNOPENED", "USAGE", "OUTPUT", "ABORTED", "NO_DATA", "OUT_OF_RANGE"))


class _Exit(Exception):
    def __init__(self, code: int, message: str) -> None:
        super().__init__(message)
        self.code = code


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        self.print_usage(sys.stderr)
        raise _Exit(ARGUMENTS, message)


def _pair(text: str, sep: str, kind: Callable[[str], Any]) -> Tuple[Any, Any]:
    parts = text.split(sep)
    if len(parts) != 2:
        raise argparse.ArgumentTypeError(f"{text!r} is not two values separated by '{sep}'")
    try:
        return kind(parts[0]), kind(parts[1])
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not two {kind.__name__} values separated by '{sep}'") from None


def _parser() -> argparse.ArgumentParser:
    parser = _Parser(prog="python3 -m velfile",
                     description="The velfile package for container files of ultrasonic testing.",
                     formatter_class=argparse.RawDescriptionHelpFormatter,
                     epilog="Exit codes:\n" + "".join(f"  {code}  {meaning}\n" for code, _, meaning, _ in EXIT_CODES))
    parser.add_argument("--version", action="version", version=f"velfile {__version__}")
    commands = parser.add_subparsers(dest="command", parser_class=_Parser)
    plot = commands.add_parser("plot", help="draw an A-, B- or C-scan of a data group (PNG or SVG)",
                               description="Draws an A-scan (one point), a B-scan (one line of points), a "
                                           "C-scan (peak |sample| in a gate at every point) or a time-of-flight "
                                           "C-scan (where the gate detects, at every point) of a data group.")
    plot.add_argument("file", help="the container file")
    plot.add_argument("--group", required=True, help="path of the data group, as '0/Scan A'")
    plot.add_argument("--kind", required=True, choices=("ascan", "bscan", "cscan", "tof"))
    where = plot.add_mutually_exclusive_group()
    where.add_argument("--point", type=lambda t: _pair(t, ",", int), metavar="I,J",
                       help="ascan: the point, second index I and first index J (default 0,0)")
    where.add_argument("--line", type=int, metavar="J", help="bscan: the line's index on the other axis (default 0)")
    plot.add_argument("--along", choices=("first", "second"), default="first",
                      help="bscan: the axis the line runs along (default first)")
    gate = plot.add_mutually_exclusive_group()
    gate.add_argument("--gate", type=lambda t: _pair(t, ":", int), metavar="A:B",
                      help="cscan, tof: samples A to B-1 (default all)")
    gate.add_argument("--gate-at", type=lambda t: _pair(t, ":", float), metavar="X0:X1",
                      help="cscan, tof: the samples whose coordinate on the sample axis lies in [X0, X1]")
    plot.add_argument("--detect", choices=("peak", "threshold"), default="peak",
                      help="cscan, tof: the gate detects its peak |sample| or the first crossing of --threshold")
    plot.add_argument("--threshold", type=float, default=0.0, metavar="T", help="the magnitude a crossing reaches")
    plot.add_argument("--envelope", action="store_true", help="measure the envelope of the samples (taken as RF)")
    plot.add_argument("--vmin", type=float, help="the lowest value of the colour scale")
    plot.add_argument("--vmax", type=float, help="the highest value of the colour scale")
    plot.add_argument("--cmap", default="viridis", help="the matplotlib colour map (default viridis; gray)")
    plot.add_argument("--db", nargs="?", type=float, const=True, metavar="REF",
                      help="cscan: amplitudes in dB of REF (default: of the largest)")
    plot.add_argument("-o", "--output", required=True, help="the picture, OUT.png or OUT.svg")
    plot.add_argument("--dpi", type=int, default=100, help="resolution of a PNG (default 100)")
    export = commands.add_parser("export", help="write the file as HDF5 (h5py) or as JSON",
                                 description="Writes the file as HDF5 (OUT.h5, every group, item and sample) "
                                             "or in the library's JSON form (OUT.json, as velinspect dump --json).")
    export.add_argument("file", help="the container file")
    export.add_argument("output", help="OUT.h5 (or .hdf5) or OUT.json")
    export.add_argument("--gzip", action="store_true", help="HDF5: compress the samples")
    view = commands.add_parser("view", help="look at files in the browser",
                               description="Serves the files to a page in the browser until Ctrl-C: their group "
                                           "trees, items and descriptors, and linked C-, B- and A-scans of their "
                                           "data groups.")
    view.add_argument("files", nargs="+", metavar="FILE", help="the container files")
    view.add_argument("--port", type=int, default=0, help="the port (default: a free one)")
    view.add_argument("--host", default="127.0.0.1",
                      help="the address to listen on (default 127.0.0.1: this machine only)")
    view.add_argument("--no-browser", action="store_true", help="print the address, open no browser")
    refs = commands.add_parser("references", help="write a data group's zarr references (kerchunk version 1)",
                               description="Writes the references that fsspec's ReferenceFileSystem reads: the "
                                           "data group as zarr, its chunks byte ranges of FILE itself.")
    refs.add_argument("file", help="the container file (a path or a URL)")
    refs.add_argument("--group", help="path of the data group (default: the file's only one)")
    refs.add_argument("--url", help="where the references say the file lies (default: FILE, made absolute)")
    refs.add_argument("-o", "--output", required=True, help="REFS.json")
    return parser


def _references(args: argparse.Namespace) -> int:
    import json

    from ._kerchunk import references

    try:
        out = references(args.file, group=args.group, url=args.url)
    except (NotFoundError, BadPathError) as e:
        raise _Exit(ARGUMENTS, str(e)) from None
    except UnsupportedError as e:
        raise _Exit(NO_DATA, f"no array of samples to reference: {e}") from None
    try:
        with open(args.output, "w", encoding="utf-8") as f:
            json.dump(out, f)
    except OSError as e:
        raise _Exit(OUTPUT, f"'{args.output}' cannot be written: {e.strerror or e}") from None
    print(f"{args.output}: {len(out['refs'])} references of '{out['refs'] and json.loads(out['refs']['.zattrs'])['group']}'")
    return OK


def _open(path: str) -> Any:
    """The file; a file that is there but damaged is left to main (exit 1)."""
    from . import _api

    try:
        return _api.open(path)
    except (NotFoundError, NotContainerError, InUseError, TooManyFilesError) as e:
        raise _Exit(UNOPENED, str(e)) from None


def _data(path: str, group: str) -> Any:
    f = _open(path)
    try:
        g = f[group]
    except (NotFoundError, BadPathError) as e:
        raise _Exit(ARGUMENTS, str(e)) from None
    try:
        return g.data
    except UnsupportedError as e:
        raise _Exit(NO_DATA, f"no acquisition data to draw: {e}") from None


def _plot(args: argparse.Namespace) -> int:
    from . import plot

    if os.path.splitext(args.output)[1].lower() not in (".png", ".svg"):
        raise _Exit(ARGUMENTS, f"'{args.output}': the picture is written as .png or .svg")
    import matplotlib

    if args.cmap not in matplotlib.colormaps:
        raise _Exit(ARGUMENTS, f"no colour map is named {args.cmap!r} (viridis, gray, magma, ...)")
    if not args.threshold >= 0:
        raise _Exit(ARGUMENTS, f"a threshold is a magnitude, zero or more, not {args.threshold:g}")
    if args.db is not None and args.db is not True and not args.db > 0:
        raise _Exit(ARGUMENTS, f"a dB reference is above 0, not {args.db:g}")
    data = _data(args.file, args.group)
    try:
        if args.kind == "ascan":
            ax = plot.ascan(data, args.point or (0, 0))
        elif args.kind == "bscan":
            ax = plot.bscan(data, 0 if args.line is None else args.line, axis=args.along, cmap=args.cmap,
                            vmin=args.vmin, vmax=args.vmax)
        else:
            gate = slice(*args.gate) if args.gate else args.gate_at
            ax = plot.cscan(data, gate=gate, kind="tof" if args.kind == "tof" else "amplitude", detect=args.detect,
                            threshold=args.threshold, envelope=args.envelope, vmin=args.vmin, vmax=args.vmax,
                            cmap=args.cmap, db=args.db)
    except UnsupportedError as e:
        raise _Exit(NO_DATA, f"no acquisition data to draw: {e}") from None
    except IndexError as e:
        raise _Exit(OUT_OF_RANGE, str(e)) from None
    try:
        ax.figure.savefig(args.output, dpi=args.dpi)
    except OSError as e:
        raise _Exit(OUTPUT, f"'{args.output}' cannot be written: {e.strerror or e}") from None
    print(f"{args.output}: {args.kind} of '{args.group}'")
    return OK


def _export(args: argparse.Namespace) -> int:
    from . import export

    kind = os.path.splitext(args.output)[1].lower()
    if kind not in (".h5", ".hdf5", ".json"):
        raise _Exit(ARGUMENTS, f"'{args.output}': the export is written as .h5, .hdf5 or .json")
    with _open(args.file) as f:
        try:
            if kind == ".json":
                notes = [] if export.to_json(f, args.output) else ["not every group or value could be read"]
            else:
                notes = export.to_hdf5(f, args.output, compression="gzip" if args.gzip else None)
        except Error:
            raise
        except OSError as e:
            raise _Exit(OUTPUT, f"'{args.output}' cannot be written: {e.strerror or e}") from None
    for note in notes:
        print(f"python3 -m velfile: {note}", file=sys.stderr)
    print(f"{args.output}: {'damaged file, exported in part' if notes else 'exported'}")
    return DAMAGED if notes else OK


def main(argv: Optional[List[str]] = None) -> int:
    """Runs the command line; returns the exit code."""
    parser = _parser()
    try:
        args = parser.parse_args(argv)
        if args.command is None:
            parser.print_help()
            return OK
        if args.command == "view":
            from .viewer import run

            return run(args.files, args.host, args.port, not args.no_browser)
        if args.command == "references":
            return _references(args)
        return _plot(args) if args.command == "plot" else _export(args)
    except _Exit as e:
        print(f"python3 -m velfile: {e}", file=sys.stderr)
        return e.code
    except MemoryError as e:
        print(f"python3 -m velfile: out of memory: the run could not complete: {e}", file=sys.stderr)
        return ABORTED
    except Error as e:  # anything else the library refused while reading: a damaged file
        print(f"python3 -m velfile: damaged file: {e}", file=sys.stderr)
        return DAMAGED
    except Exception as e:  # noqa: BLE001 - as velinspect: a run that cannot complete says so
        print(f"python3 -m velfile: the run could not complete: {e.__class__.__name__}: {e}", file=sys.stderr)
        return ABORTED


if __name__ == "__main__":
    sys.exit(main())
