"""python3 -m velfile: the package's command line."""
from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from . import __version__


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m velfile",
                                     description="The velfile package for container files of ultrasonic testing.")
    parser.add_argument("--version", action="version", version=f"velfile {__version__}")
    parser.parse_args(argv)
    parser.print_help()
    return 0


if __name__ == "__main__":
    sys.exit(main())
