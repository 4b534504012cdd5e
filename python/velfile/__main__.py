"""python3 -m velfile: the package's command line.

    python3 -m velfile view FILE [FILE ...] [--port N] [--host H] [--no-browser]
"""
from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from . import __version__


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m velfile",
                                     description="The velfile package for container files of ultrasonic testing.")
    parser.add_argument("--version", action="version", version=f"velfile {__version__}")
    commands = parser.add_subparsers(dest="command")
    view = commands.add_parser("view", help="look at files in the browser",
                               description="Serves the files to a page in the browser: their group trees, items "
                                           "and descriptors, and linked C-, B- and A-scans of their data groups.")
    view.add_argument("files", nargs="+", metavar="FILE", help="the container files")
    view.add_argument("--port", type=int, default=0, help="the port (default: a free one)")
    view.add_argument("--host", default="127.0.0.1",
                      help="the address to listen on (default 127.0.0.1, this machine only)")
    view.add_argument("--no-browser", action="store_true", help="print the address, open no browser")
    args = parser.parse_args(argv)
    if args.command == "view":
        from .viewer import run

        return run(args.files, args.host, args.port, not args.no_browser)
    parser.print_help()
    return 0


if __name__ == "__main__":
    sys.exit(main())
