"""A viewer in the browser: the files' group trees, a group's items and
descriptor, and for a data group its C-scans over gates with the A-scan and
the two B-scans of the point picked. The server sends values (measured by
velfile.analysis); the page draws them.

    python3 -m velfile view FILE [FILE ...] [--port N] [--host H] [--no-browser]

The server listens on 127.0.0.1 and a free port, prints the address with its
token and serves the named files only, until Ctrl-C.
"""
from __future__ import annotations

import asyncio
import ipaddress
import os
import sys
import threading
import webbrowser
from typing import Sequence

from .server import Viewer

__all__ = ["Viewer", "run"]


def _loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host.strip("[]")).is_loopback
    except ValueError:
        return False


def _has_display() -> bool:
    return not sys.platform.startswith("linux") or bool(os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))


def run(paths: Sequence[str], host: str = "127.0.0.1", port: int = 0, browser: bool = True) -> int:
    """Serves paths until Ctrl-C (or SIGTERM); returns the exit code."""
    missing = [p for p in paths if not os.path.isfile(p)]
    if missing:
        print(f"velfile view: no such file: {missing[0]}", file=sys.stderr)
        return 2
    if not _loopback(host):
        print(f"velfile view: warning: listening on {host}, not on this machine's loopback address: anyone who "
              "reaches this port and learns the token can read the files served", file=sys.stderr)
    viewer = Viewer(paths, host, port)
    ready = threading.Event()

    def started() -> None:
        ready.wait()
        print(f"velfile view: serving {len(paths)} file{'s' if len(paths) != 1 else ''} at\n\n    {viewer.url}\n\n"
              "Ctrl-C stops it.", flush=True)
        if browser and _has_display():
            try:
                webbrowser.open(viewer.url)
            except webbrowser.Error:
                pass

    threading.Thread(target=started, daemon=True).start()
    try:
        asyncio.run(viewer.serve(ready))
    except KeyboardInterrupt:
        pass
    except OSError as e:  # the address or port cannot be had
        print(f"velfile view: cannot listen on {host} port {port}: {e.strerror or e}", file=sys.stderr)
        return 3
    print("velfile view: stopped", flush=True)
    return 0
