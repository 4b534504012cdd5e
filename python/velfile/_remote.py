"""Files read where they lie: through a file object (read and seek) or an
fsspec URL ("http(s)://" with aiohttp, "memory://", "s3://" where its driver
is installed, ...). The library reads such a file through a Source whose
callbacks are a _Reader's size() and read(offset, n), in blocks it keeps.

The size and the first block are fetched before the library is called, so
outside its lock. Later reads run with the lock held; each is given at most
TIMEOUT seconds (open(..., timeout=)), after which it fails with
FileIOError, so a stalled server holds up other files' calls for no longer
than that. A velfile call made by the fetching code (the file object's
read, or a finaliser the garbage collector runs there) is refused with
InUseError, as the library's lock is held for the read it serves. A stalled
transfer is left to finish on its own thread, a daemon that never holds up
the interpreter's exit; the file it belongs to then fails its reads, as the
transfer still occupies it.
"""
from __future__ import annotations

import concurrent.futures
import os
import queue
import threading
from typing import Any, Optional

from . import _velfile
from ._velfile import FileIOError, InvalidError

#: Seconds one request may take before its read fails.
TIMEOUT = 30.0
#: The bytes each request reads at least, and the unit the reader keeps.
BLOCK = 256 << 10


def is_remote(source: Any) -> bool:
    """Whether open() takes source as a file object or a URL."""
    if isinstance(source, (str, os.PathLike)):
        return "://" in os.fspath(source) and not os.fspath(source).startswith("file://")
    return hasattr(source, "read") and hasattr(source, "seek")


class _Worker:
    """One daemon thread running a reader's requests in turn. The threads of
    a ThreadPoolExecutor are joined when the interpreter exits, so that one
    stalled transfer would keep a finished program from ending."""

    def __init__(self) -> None:
        self._jobs: "queue.SimpleQueue[Any]" = queue.SimpleQueue()
        threading.Thread(target=self._run, name="velfile-read", daemon=True).start()

    def _run(self) -> None:
        _velfile._serve_sources_on_this_thread()
        while True:
            job = self._jobs.get()
            if job is None:
                return
            future, call, args = job
            try:
                future.set_result(call(*args))
            except BaseException as e:  # handed to the caller, whatever it is
                future.set_exception(e)

    def submit(self, call: Any, *args: Any) -> "concurrent.futures.Future[Any]":
        future: "concurrent.futures.Future[Any]" = concurrent.futures.Future()
        self._jobs.put((future, call, args))
        return future

    def shutdown(self) -> None:
        self._jobs.put(None)


class _Reader:
    """The size and the ranges of a file object or of a URL, each request
    bounded by a timeout."""

    def __init__(self, source: Any, storage_options: Optional[dict], block: int, timeout: float) -> None:
        self.timeout = timeout
        self.name = source if isinstance(source, str) else getattr(source, "name", None) or repr(source)
        self._pool = _Worker()
        if isinstance(source, str):
            import fsspec

            fs, path = fsspec.core.url_to_fs(source, **(storage_options or {}))
            self._size = int(self._bounded(fs.size, path))
            self._fetch = lambda offset, n: fs.cat_file(path, start=offset, end=offset + n)
        else:
            lock = threading.Lock()

            def fetch(offset: int, n: int) -> bytes:
                with lock:
                    source.seek(offset)
                    return bytes(source.read(n))

            def size() -> int:
                with lock:
                    return source.seek(0, os.SEEK_END)

            self._size = int(self._bounded(size))
            self._fetch = fetch
        # The first block, fetched here outside the library's lock; served once.
        self._head = self._bounded(self._fetch, 0, min(block, self._size)) if self._size else b""

    def _bounded(self, call: Any, *args: Any) -> Any:
        try:
            return self._pool.submit(call, *args).result(self.timeout)
        except concurrent.futures.TimeoutError:
            raise FileIOError(f"'{self.name}' gave no answer within {self.timeout:g} s") from None

    def size(self) -> int:
        return self._size

    def read(self, offset: int, n: int) -> bytes:
        head = self._head
        if head and offset + n <= len(head):
            self._head = b""
            return head[offset:offset + n]
        return self._bounded(self._fetch, offset, n)

    def close(self) -> None:
        self._pool.shutdown()


def open_remote(source: Any, mode: str, storage_options: Optional[dict] = None, block_size: Optional[int] = None,
                timeout: Optional[float] = None) -> Any:
    """The binding's File of a file object or URL, opened for reading."""
    if mode != "r":
        raise InvalidError(f"'{source}' is read through a file object or a URL: it can be opened for reading "
                           f"only (mode 'r'), not '{mode}'")
    block = int(block_size or BLOCK)
    reader = _Reader(source, storage_options, block, TIMEOUT if timeout is None else float(timeout))
    return _velfile._open_source(reader, reader.name, block)
