"""A local HTTP server of a folder's files (Tornado's StaticFileHandler,
which serves byte ranges) on 127.0.0.1, counting the requests and the bytes
of content it served, for the tests and benchmarks of remote reads."""
import asyncio
import os
import threading

import tornado.web


class Served:
    """What the server served since the last reset()."""

    def __init__(self):
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        with self.lock:
            self.requests, self.bytes, self.methods = 0, 0, []


def serve(folder):
    """Starts the server on a thread; returns (base URL, Served, stop())."""
    served = Served()

    class Counting(tornado.web.StaticFileHandler):
        def prepare(self):
            with served.lock:
                served.requests += 1
                served.methods.append(self.request.method)

        @classmethod
        def get_content_version(cls, abspath):
            # The file's state, not a hash of all its bytes (which would be
            # read, and counted, on every request).
            st = os.stat(abspath)
            return f"{st.st_mtime_ns:x}-{st.st_size:x}"

        @classmethod
        def get_content(cls, abspath, start=None, end=None):
            for chunk in super().get_content(abspath, start, end):
                with served.lock:
                    served.bytes += len(chunk)
                yield chunk

    ready = threading.Event()
    box = {}

    def run():
        loop = asyncio.new_event_loop()
        asyncio.set_event_loop(loop)
        app = tornado.web.Application([(r"/(.*)", Counting, {"path": str(folder)})])
        server = app.listen(0, address="127.0.0.1")
        box["port"] = next(iter(server._sockets.values())).getsockname()[1]
        box["loop"], box["server"] = loop, server
        ready.set()
        loop.run_forever()
        server.stop()
        loop.close()

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    ready.wait(10)

    def stop():
        box["loop"].call_soon_threadsafe(box["loop"].stop)
        thread.join(10)

    return f"http://127.0.0.1:{box['port']}", served, stop
