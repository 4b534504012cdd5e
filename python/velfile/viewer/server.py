"""The viewer's HTTP server (Tornado): the page, its two assets and the
views of views.py (JSON, or the binary values of the scans). Every request
passes the Host check; the API also needs the token, in a header, from a
request of the page's own origin."""
from __future__ import annotations

import asyncio
import hmac
import json
import os
import secrets
import signal
import socket
import sys
import threading
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Dict, List, Optional, Sequence, Tuple

import tornado.httpserver
import tornado.netutil
import tornado.web

from . import views

_STATIC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "static")
_ASSETS = {"viewer.js": "text/javascript", "plots.js": "text/javascript", "viewer.css": "text/css"}
_LOCAL_NAMES = ("127.0.0.1", "localhost", "[::1]")
_POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
           "base-uri 'none'; form-action 'none'; frame-ancestors 'none'")


# Requests for C-scans waiting at once; more are refused as busy.
MAX_WAITING = 16
MAX_SLOTS = 4096  # views remembered, of every page served


def _log(handler: tornado.web.RequestHandler) -> None:
    """Server faults only, without the query (which may carry the token)."""
    if handler.get_status() >= 500:
        print(f"velfile view: {handler.get_status()} {handler.request.method} {handler.request.path}",
              file=sys.stderr)


class _Handler(tornado.web.RequestHandler):
    """Every request: the Host check. The API's: the origin and the token."""

    viewer: "Viewer"

    def initialize(self, viewer: "Viewer") -> None:
        self.viewer = viewer

    def set_default_headers(self) -> None:
        self.set_header("Content-Security-Policy", _POLICY)
        self.set_header("X-Content-Type-Options", "nosniff")
        self.set_header("Referrer-Policy", "no-referrer")
        self.set_header("Cache-Control", "no-store")

    def prepare(self) -> None:
        if self.request.host not in self.viewer.hosts:
            raise tornado.web.HTTPError(403, f"the Host header {self.request.host[:80]!r} is not this server's")

    def _request_summary(self) -> str:  # as Tornado logs a request: never its query, which may hold the token
        return f"{self.request.method} {self.request.path} ({self.request.remote_ip})"

    def write_error(self, status_code: int, **kwargs: Any) -> None:
        error = kwargs.get("exc_info", (None, None))[1]
        if isinstance(error, tornado.web.HTTPError) and error.log_message:
            message = error.log_message % error.args if error.args else error.log_message
        else:
            message = self._reason
        if self.request.path.startswith("/api/"):
            self.set_header("Content-Type", "application/json")
            self.finish(json.dumps({"error": message}))
        else:
            self.set_header("Content-Type", "text/plain; charset=utf-8")
            self.finish(f"{status_code}: {message}\n")

    def log_exception(self, typ: Any, value: Any, tb: Any) -> None:
        if not isinstance(value, tornado.web.HTTPError):
            import traceback

            print(f"velfile view: {self._request_summary()} failed:\n"
                  + "".join(traceback.format_exception(typ, value, tb)), file=sys.stderr)


class _Page(_Handler):
    """The page holds no secret: it takes the token from its own address
    (the printed one has it) and sends it in a header with every request."""

    def get(self) -> None:
        self.set_header("Content-Type", "text/html; charset=utf-8")
        self.finish(self.viewer.assets["index.html"])


class _Asset(_Handler):
    def get(self, name: str) -> None:
        self.set_header("Content-Type", f"{_ASSETS[name]}; charset=utf-8")
        self.finish(self.viewer.assets[name])


class _Api(_Handler):
    cancelled: Optional[threading.Event] = None

    def prepare(self) -> None:
        super().prepare()
        # Only the page's own requests: a browser names the site a request
        # comes from, and another port of this host is another origin.
        site = self.request.headers.get("Sec-Fetch-Site")
        if site is not None and site != "same-origin":
            raise tornado.web.HTTPError(403, f"a request from another site ({site[:20]!r}) is refused")
        origin = self.request.headers.get("Origin")
        if origin is not None and origin not in self.viewer.origins:
            raise tornado.web.HTTPError(403, f"a request from the origin {origin[:80]!r} is refused")
        header = self.request.headers.get("Authorization", "")
        given = header[6:] if header.startswith("token ") else ""
        if not hmac.compare_digest(given.encode(), self.viewer.token.encode()):
            raise tornado.web.HTTPError(403, "this address needs the token: open the address that "
                                             "'python3 -m velfile view' printed")

    def on_connection_close(self) -> None:  # the page gave the request up: so does the server
        if self.cancelled is not None:
            self.cancelled.set()

    async def get(self, name: str) -> None:
        # Names may begin or end with spaces: arguments are taken as sent.
        query = {k: self.get_query_argument(k, strip=False) for k in self.request.query_arguments}
        heavy = name in views.HEAVY
        self.cancelled = threading.Event()
        slot = query.pop("slot", None)
        try:
            if heavy and self.viewer.waiting >= MAX_WAITING:
                raise views.RequestError(503, f"the viewer is busy with {self.viewer.waiting} C-scans: "
                                              "ask again in a moment")
            if slot is not None:
                order = views._int(query, "seq", 0)
                query.pop("seq", None)
                self.viewer.take_slot(slot, order, self.cancelled)
            cancelled = self.cancelled
            self.viewer.waiting += heavy
            try:
                answer = await asyncio.get_running_loop().run_in_executor(
                    self.viewer.heavy if heavy else self.viewer.pool, self._answer, name, query, cancelled)
            finally:
                self.viewer.waiting -= heavy
        except Exception as e:  # every failure is an answer; the server goes on
            status = views.status_of(e)
            if status == 500:
                self.log_exception(type(e), e, e.__traceback__)
            if self.request.connection.stream is None or self.request.connection.stream.closed():
                return
            self.set_status(status)
            self.set_header("Content-Type", "application/json")
            self.finish(json.dumps({"error": str(e) or type(e).__name__}))
            return
        if isinstance(answer, views.Binary):
            self.set_header("Content-Type", "application/octet-stream")
            self.finish(answer.encode())
        else:
            self.set_header("Content-Type", "application/json")
            self.finish(json.dumps(answer, allow_nan=False, ensure_ascii=False).encode())

    def _answer(self, name: str, query: Dict[str, str], cancelled: threading.Event) -> Any:
        if cancelled.is_set():
            raise views.Superseded("the request was superseded before it began")
        return views.answer(self.viewer.files, name, query, cancelled.is_set)


class _Missing(_Handler):
    def get(self) -> None:
        raise tornado.web.HTTPError(404, f"the viewer has no page {self.request.path[:80]!r}")


class Viewer:
    """Serves the named files on host (127.0.0.1 by default) and port (a free
    one when 0) until stop(). Every request must carry the token: the address
    the viewer prints has it, and the page sends it in a header. C-scans run
    in a pool of their own, so that points and lines never wait behind
    them."""

    def __init__(self, paths: Sequence[str], host: str = "127.0.0.1", port: int = 0, workers: int = 2) -> None:
        self.files = views.Files(paths)
        self.host, self.port = host, port
        self.token = secrets.token_urlsafe(24)
        self.hosts: List[str] = []
        self.origins: List[str] = []
        self.pool = ThreadPoolExecutor(workers, thread_name_prefix="velfile-view")
        self.heavy = ThreadPoolExecutor(1, thread_name_prefix="velfile-cscan")
        # Per view of each page: the order of its newest request, and that request's cancel.
        self.slots: Dict[str, Tuple[int, threading.Event]] = {}
        self.waiting = 0
        self.assets: Dict[str, bytes] = {}
        for name in ("index.html", *_ASSETS):
            with open(os.path.join(_STATIC, name), "rb") as f:
                self.assets[name] = f.read()
        self._server: Optional[tornado.httpserver.HTTPServer] = None
        self._loop: Optional[asyncio.AbstractEventLoop] = None
        self._stop: Optional[asyncio.Event] = None

    @property
    def url(self) -> str:
        host = f"[{self.host}]" if ":" in self.host else self.host
        return f"http://{host}:{self.port}/?token={self.token}"

    def _listen(self) -> None:
        sockets = tornado.netutil.bind_sockets(self.port, address=self.host)
        self.port = sockets[0].getsockname()[1]
        names = set(_LOCAL_NAMES) | {f"[{self.host}]" if ":" in self.host else self.host}
        if self.host in ("0.0.0.0", "::", ""):
            names |= {socket.gethostname(), socket.getfqdn()}
        self.hosts = [f"{name}:{self.port}" for name in sorted(names)]
        self.origins = [f"http://{host}" for host in self.hosts]
        routes = [(r"/", _Page), (r"/static/(viewer\.js|plots\.js|viewer\.css)", _Asset), (r"/api/(\w+)", _Api)]
        app = tornado.web.Application([(r, h, {"viewer": self}) for r, h in routes], log_function=_log,
                                      default_handler_class=_Missing, default_handler_args={"viewer": self})
        self._server = tornado.httpserver.HTTPServer(app)
        self._server.add_sockets(sockets)

    async def serve(self, ready: Optional[threading.Event] = None) -> None:
        """Listens, sets ready, and serves until stop() or (in the main
        thread) SIGINT or SIGTERM; then closes everything."""
        self._loop, self._stop = asyncio.get_running_loop(), asyncio.Event()
        self._listen()
        if threading.current_thread() is threading.main_thread():
            for sig in (signal.SIGINT, signal.SIGTERM):
                try:
                    self._loop.add_signal_handler(sig, self._stop.set)
                except (NotImplementedError, RuntimeError):  # Windows: Ctrl-C raises KeyboardInterrupt
                    pass
        if ready is not None:
            ready.set()
        try:
            await self._stop.wait()
        finally:
            self._server.stop()
            await self._server.close_all_connections()
            for _, cancel in list(self.slots.values()):
                cancel.set()
            self.pool.shutdown(wait=True, cancel_futures=True)
            self.heavy.shutdown(wait=True, cancel_futures=True)

    def take_slot(self, slot: str, order: int, cancel: threading.Event) -> None:
        """A request of a view (slot) supersedes the older ones of that view,
        which stop; a request older than one already seen, as one sent before
        a newer one but arriving after it on another connection, is itself
        superseded. The page numbers each view's requests (order)."""
        newest = self.slots.get(slot)
        if newest is not None and newest[0] > order:
            raise views.Superseded("a newer request of the same view came first")
        if newest is not None:
            newest[1].set()
        self.slots.pop(slot, None)
        self.slots[slot] = (order, cancel)
        while len(self.slots) > MAX_SLOTS:  # the views of pages long closed
            del self.slots[next(iter(self.slots))]

    def stop(self) -> None:
        """Stops serve(), from any thread."""
        if self._loop is not None and self._stop is not None:
            self._loop.call_soon_threadsafe(self._stop.set)
