"""The viewer: its views and refusals over HTTP, and the page in headless
Chromium: every point of a large scan visible, readouts and picks, time of
flight, stale and failed views, a changed file, and the timings."""
import asyncio
import http.client
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from urllib.parse import quote

import numpy as np
import pytest

import velfile

pytest.importorskip("tornado", reason="the viewer needs Tornado (Debian python3-tornado)")
from velfile.viewer import Viewer  # noqa: E402

SAMPLES = ((np.arange(4 * 5 * 16).reshape(4, 5, 16) * 37) % 2001 - 1000).astype(np.int16)
MASK = np.ones((4, 5), bool)
MASK[1, 2] = False
SCAN = "file=0&group=0/Scan"


@pytest.fixture(scope="module")
def paths(tmp_path_factory):
    """A sound file (a setup group whose name is markup, a data group), a
    damaged one, and one whose appended section was cut short inside its
    directory."""
    folder = tmp_path_factory.mktemp("viewer")
    good, damaged, cut = str(folder / "good.A01"), str(folder / "damaged.A01"), str(folder / "cut.A01")
    with velfile.create(good) as f:
        root = f.create_group("Inspection")
        setup = root.create_group("<img src=x>", 1)
        setup.write_item(1, np.arange(100, dtype=np.int32))
        setup.write_item(2, "Gate A")
        root.create_group("Scan", 2).write_data(SAMPLES, MASK, axes=[(0.5, 10.0), (2.0, -1.0), (0.1, 0.0)])
        # A name Tornado would strip, with a right-to-left override; a text of 2 million characters.
        spaced = root.create_group(" spaced\u202e ", 3)
        spaced.write_item(1, "\u05d0" * (2 << 20))
    with open(good, "rb") as f, open(damaged, "wb") as out:
        out.write(f.read()[: 200])
    shutil.copy(good, cut)
    with velfile.open(cut, "a") as f:
        f.create_group("S").write_item(1, np.arange(10, dtype=np.int32))
    os.truncate(cut, os.path.getsize(cut) - 30)  # the name entry whole, the next one cut
    return good, damaged, cut


@pytest.fixture(scope="module")
def server(paths):
    viewer = Viewer(paths)
    ready = threading.Event()
    thread = threading.Thread(target=lambda: asyncio.run(viewer.serve(ready)), daemon=True)
    thread.start()
    assert ready.wait(10)
    yield viewer
    viewer.stop()
    thread.join(10)


def decode(body):
    """A binary answer: its header, with each array as numpy reads it."""
    n = int.from_bytes(body[:4], "little")
    header = json.loads(body[4:4 + n])
    for a in header["arrays"]:
        count = int(np.prod(a["shape"]))
        header[a["name"]] = np.frombuffer(body, "<" + a["dtype"], count, 4 + n + a["offset"]).reshape(a["shape"])
    return header


def get(viewer, path, host=None, token=True, headers=()):
    connection = http.client.HTTPConnection("127.0.0.1", viewer.port, timeout=30)
    sent = {"Host": host or f"127.0.0.1:{viewer.port}", **dict(headers)}
    if token:
        sent["Authorization"] = f"token {viewer.token if token is True else token}"
    connection.request("GET", quote(path, safe="/?&=,:"), headers=sent)
    response = connection.getresponse()
    body = response.read()
    kind = response.getheader("Content-Type", "")
    return response.status, json.loads(body) if kind.startswith("application/json") else (
        decode(body) if kind == "application/octet-stream" else body)


def peak(s, f, start, stop):
    return float(np.abs(SAMPLES[s, f, start:stop].astype(float)).max())


def cscan_is(j, start, stop):
    expected = np.abs(SAMPLES[..., start:stop].astype(float)).max(-1)
    return (np.array_equal(j["amplitude"][MASK], expected[MASK]) and np.isnan(j["amplitude"][~MASK]).all()
            and np.array_equal(j["position"][MASK],
                               start + np.abs(SAMPLES[..., start:stop].astype(int)).argmax(-1)[MASK]))


VIEWS = [
    ("tree?file=0", lambda j: [(g["path"], g["items"], g["data"]) for g in j["groups"]] == [
        ("0", 4, False), ("0/<img src=x>", 3, False), ("0/Scan", 71, True), ("0/ spaced\\u202e ", 2, False)]),
    ("tree?file=2", lambda j: [(g["path"], g["state"]) for g in j["groups"]] == [
        ("0", "open"), ("0/<img src=x>", "open"), ("0/Scan", "open"), ("0/ spaced\\u202e ", "open"), ("1", "error")]
     and "outside the file" in j["groups"][-1]["reason"] and j["groups"][-1]["name"] == "S"
     and "section 1" in j["notes"][0] and j["complete"]),
    ("group?file=0&group=0/<img src=x>", lambda j: [(i["id"], i["whole"]) for i in j["items"]] == [
        (10000, True), (1, False), (2, True)] and j["items"][2]["value"] == "'Gate A'" and "data" not in j),
    ("group?file=0&group=0/ spaced\u202e ", lambda j: j["name"] == " spaced\u202e "),
    ("item?file=0&group=0/ spaced\u202e &index=1", lambda j: len(j["value"].encode()) <= 1 << 20 < j["count"]
     and j["shown"] == len(j["value"])),
    (f"group?{SCAN}", lambda j: j["module"] == "data" and dict(j["fields"])["sampleQty"] == 16 and j["data"][
        "axes"]["first"] == {"count": 5, "start": -1.0, "step": 2.0, "end": 7.0}),
    ("item?file=0&group=0/<img src=x>&index=1", lambda j: j["value"] == list(range(100))),
    (f"point?{SCAN}&point=2,3&gate=4:12", lambda j: j["samples"].tolist() == SAMPLES[2, 3].tolist()
     and j["gates"][0]["amplitude"] == peak(2, 3, 4, 12)),
    (f"point?{SCAN}&point=1,2", lambda j: not j["has_data"] and j["gates"] == [{"amplitude": None, "position": None}]),
    (f"line?{SCAN}&line=3&along=second", lambda j: np.array_equal(j["samples"], SAMPLES[:, 3])
     and j["has"].tolist() == MASK[:, 3].tolist()),
    (f"cscan?{SCAN}&gate=4:12", lambda j: j["gate"] == [4, 12] and cscan_is(j, 4, 12)),
    (f"cscan?{SCAN}&gate=0:8&gate2=2:4", lambda j: np.array_equal(  # gate 2 starts 2 after gate 1's peak
        j["position1"][MASK], np.abs(SAMPLES[..., :8].astype(int)).argmax(-1)[MASK])
        and np.all((j["position"] - j["position1"])[MASK] >= 2) and np.all((j["position"] - j["position1"])[MASK] < 6)),
    (f"line?{SCAN}&line=0&envelope=1", lambda j: j["samples"].dtype == np.float32
     and np.all(j["samples"][MASK[0]].max(-1) >= np.abs(SAMPLES[0][MASK[0]]).max(-1) * 0.5)),
]


@pytest.mark.parametrize("query,check", VIEWS, ids=[q.split("?")[0] for q, _ in VIEWS])
def test_views(server, query, check):
    status, answer = get(server, "/api/" + query)
    assert status == 200 and check(answer), answer


OTHER_PORT = {"Origin": "http://127.0.0.1:1"}
REFUSED = [
    (f"point?{SCAN}&point=4,0", {}, 400, "outside the 4 x 5 points"),
    (f"cscan?{SCAN}&gate=5:5", {}, 400, "gate 5:5"),
    (f"cscan?{SCAN}&gate=0:4&detect=threshold&threshold=-1", {}, 400, "threshold is a magnitude"),
    (f"line?{SCAN}&line=0&along=depth", {}, 400, "'depth'"),
    (f"line?{SCAN}&line=5&along=second", {}, 400, "line 5"),
    ("tree?file=x", {}, 400, "not an integer"),
    ("group?file=3&group=0", {}, 404, "files 0 to 2"),
    ("group?file=0&group=0/Nothing", {}, 404, "Nothing"),
    ("item?file=0&group=0/Scan&index=99", {}, 404, "no item [99]"),
    ("cscan?file=0&group=0/<img src=x>", {}, 422, "data"),
    ("tree?file=1", {}, 422, "damaged.A01"),
    ("tree?file=0&module=x", {"token": "wrong"}, 403, "token"),
    ("tree?file=0", {"token": False}, 403, "token"),
    ("tree?file=0&token=TOKEN", {"token": False}, 403, "token"),  # the API takes it from its header only
    ("tree?file=0", {"headers": OTHER_PORT}, 403, "origin 'http://127.0.0.1:1'"),
    ("tree?file=0", {"headers": {"Sec-Fetch-Site": "same-site"}}, 403, "another site"),
    ("tree?file=0", {"host": "attacker.example:80"}, 403, "Host header"),
    ("nothing", {}, 404, "no view"),
]


@pytest.mark.parametrize("query,how,status,words", REFUSED)
def test_refusals(server, query, how, status, words):
    got, answer = get(server, "/api/" + query.replace("TOKEN", server.token), **how)
    assert got == status and words in answer["error"], answer
    assert get(server, "/api/files", headers={"Sec-Fetch-Site": "same-origin"})[0] == 200  # and the server goes on


def test_the_page_holds_no_secret_and_sets_no_cookie(server):
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
    connection.request("GET", f"/?token={server.token}")
    response = connection.getresponse()
    page = response.read()
    assert response.status == 200 and response.getheader("Set-Cookie") is None and server.token.encode() not in page
    assert b'<script src="/static/viewer.js"' in page and b"<script>" not in page
    assert "script-src 'self'" in response.getheader("Content-Security-Policy")


# --- the page in a browser ---

def _driver():
    try:
        if not (shutil.which("chromium") and os.path.exists("/usr/bin/chromedriver")):
            raise ImportError("no Chromium: install Debian chromium and chromium-driver to run the browser test")
        from selenium import webdriver
    except ImportError as e:
        if os.environ.get("CI"):  # scripts/setup.sh installs them: CI runs the browser test
            pytest.fail(f"the browser test cannot run in CI: {e}")
        pytest.skip(f"{e} (scripts/setup.sh installs chromium, chromium-driver and python3-selenium)")
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1000,1100"):
        options.add_argument(arg)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(30)
    return driver


def _start(files):
    """python3 -m velfile view, the lines it prints and the address among them."""
    process = subprocess.Popen([sys.executable, "-m", "velfile", "view", *files, "--no-browser"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line.strip()) for line in process.stdout], daemon=True).start()
    printed = []
    while not printed or not printed[-1].startswith("http://127.0.0.1:"):
        try:
            printed.append(lines.get(timeout=30))
        except queue.Empty:
            process.kill()
            pytest.fail(f"the viewer printed no address: {printed}")
    return process, lines, printed[-1]


def _scan(path, count=1000):
    """400 x 300 points of 512 int16 samples of noise (|sample| <= 40) with
    count one-point indications of known place, depth and amplitude (one of
    them -32768), and a few points without data; beside it a group with a
    long name."""
    rng = np.random.default_rng(29)
    samples = rng.integers(-40, 41, (300, 400, 512), dtype=np.int16)
    where = rng.choice(300 * 400, count + 20, replace=False)
    s, f = np.divmod(where[:count], 400)
    depth = rng.integers(100, 400, count)
    amplitude = rng.integers(20000, 32768, count) * rng.choice([-1, 1], count)
    amplitude[0] = -32768
    samples[s, f, depth] = amplitude
    has = np.ones((300, 400), bool)
    has.flat[where[count:]] = False
    with velfile.create(path) as out:
        root = out.create_group("Inspection")
        root.create_group("Plate", 1).write_data(samples, has, axes=[(1.0, 0.0), (1.0, 0.0), (0.01, 0.0)])
    # A section holding a group whose name has 10,000 characters, which only
    # other writers make.
    subprocess.run([os.environ["VELFILE_SAMPLE_WRITER"], path, "10000"], check=True)
    return s, f, depth, np.abs(amplitude)


# In the page: the palette index of the pixel drawn where each point lies, and
# how many pixels of the image show the top quarter of the palette.
_PIXELS = """
const [points, top] = arguments;
const v = window.velfileViewer.views.cscan, r = v.lastRect;
const lut = new Map(Array.from(window.velfilePlots.PALETTES.viridis, (c, i) => [c >>> 0, i]));
const words = new Uint32Array(v.ctx.getImageData(r.x, r.y, r.w, r.h).data.buffer);
const shown = points.map(([s, f]) => {
  const at = v.canvasAt(f, s);
  return lut.get(words[Math.floor(at.y - r.y) * r.w + Math.floor(at.x - r.x)] >>> 0);
});
return [shown, words.filter((w) => lut.get(w >>> 0) >= top).length, [r.w, r.h]];
"""


# In the page: mouse events at the pixel where point (s, f) of the C-scan
# lies (at whole CSS pixels, as a mouse gives them).
_MOUSE = """
const mouse = (s, f, types) => {
  const c = document.getElementById("cscan"), b = c.getBoundingClientRect();
  const at = window.velfileViewer.views.cscan.canvasAt(f, s);
  const x = Math.round(b.left + ((Math.floor(at.x) + 0.5) * b.width) / c.width);
  const y = Math.round(b.top + ((Math.floor(at.y) + 0.5) * b.height) / c.height);
  for (const type of types) c.dispatchEvent(new MouseEvent(type, {clientX: x, clientY: y, bubbles: true}));
};
mouse(arguments[0], arguments[1], arguments[2]);
"""


def test_browser(paths, tmp_path):
    """On a 400 x 300 scan of 1,000 indications, drawn in fewer pixels than
    it has points: each indication visible, readout and pick exact, time of
    flight right, a failed view and a changed file shown as such, the
    superseded answers of quick clicks dropped; and the timings."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait

    driver = _driver()
    large = str(tmp_path / "plate.A01")
    s, f, depth, amplitude = _scan(large)
    files = [paths[0], large]
    writer = os.environ.get("VELFILE_WRITE_INSPECTION")  # the example's file, for the screenshot
    if writer:
        files.append(str(tmp_path / "inspection.A01"))
        subprocess.run([writer, files[2]], check=True, stdout=subprocess.DEVNULL)
    process, printed, url = _start(files)
    artifacts = os.path.abspath(os.environ.get("VELFILE_ARTIFACTS", "artifacts"))
    os.makedirs(artifacts, exist_ok=True)
    try:
        wait = WebDriverWait(driver, 60, poll_frequency=0.02)
        state = lambda expr, *args: driver.execute_script(  # noqa: E731
            f"const v = window.velfileViewer; return {expr};", *args)
        driver.get(url)
        assert "token" not in driver.get_cookies() and not driver.get_cookies()

        def timed(action, do):
            done = len(state("v.timings"))
            do()
            wait.until(lambda d: len(state("v.timings")) > done and state("v.timings")[-1]["action"] == action)
            return state("v.timings")[-1]["ms"]

        def select(file, path):
            return timed("data group", lambda: wait.until(lambda d: d.find_element(
                By.CSS_SELECTOR, f'button[data-file="{file}"][data-path="{path}"]')).click())

        def control(**values):  # sets the page's inputs, then tells it once
            last = None
            for name, value in values.items():
                last = name.replace("_", "-")
                driver.execute_script("const e = document.getElementById(arguments[0]); "
                                      "if (e.type === 'checkbox') e.checked = arguments[1]; "
                                      "else e.value = arguments[1];",
                                      last, value)
            driver.execute_script("document.getElementById(arguments[0]).dispatchEvent(new Event('change'))", last)

        def gate(**values):
            return timed("gate", lambda: control(**values))

        def cursor(s_, f_, click=False):  # the mouse over point (s_, f_) of the C-scan, at its centre
            events = ["mousemove", "mousedown", "mouseup"] if click else ["mousemove"]
            driver.execute_script(_MOUSE, int(s_), int(f_), events)

        wait.until(lambda d: '" spaced\\u{202e} "' in state(  # a name's invisible characters, shown escaped
            "Array.from(document.querySelectorAll('.name'), (e) => e.textContent)"))
        select(1, "0/Plate")
        nav, wide, main = state("['nav', 'main', 'main'].map((s, i) => { const e = document.querySelector(s); "
                                "return i === 1 ? e.scrollWidth : e.offsetWidth; })")
        assert nav == 280 and wide <= main  # the long name neither widens the tree nor the page
        driver.find_element(By.ID, "marks").click()  # no cursor over any point
        shown, bright, size = driver.execute_script(_PIXELS, np.c_[s, f].tolist(), 150)
        assert size[0] < 400 and size[1] < 300  # more points than pixels: each pixel shows the largest of its points
        missing = [(int(a), int(b)) for a, b, c in zip(s, f, shown) if c is None or c < 150]
        assert not missing, f"{len(missing)} of 1000 indications not visible: {missing[:10]}"
        assert bright <= len(set(zip(s * size[1] // 300, f * size[0] // 400))) * 4  # and nothing else is bright

        def exported(kind):  # the bytes of the file the page offers for download
            return bytes(driver.execute_async_script("""
                const done = arguments[arguments.length - 1], make = URL.createObjectURL;
                URL.createObjectURL = (blob) => {
                  URL.createObjectURL = make;
                  blob.arrayBuffer().then((b) => done(Array.from(new Uint8Array(b))));
                  return make(blob);
                };
                document.getElementById(`export-${arguments[0]}`).click();""", kind))

        with open(tmp_path / "exported.npy", "wb") as out:
            out.write(exported("npy"))
        shown_values = np.load(tmp_path / "exported.npy")[::-1]  # rows top to bottom, as shown
        assert shown_values.shape == (300, 400) and np.array_equal(shown_values[s, f], amplitude)
        cursor(s[0], f[0])  # the -32768 indication: the largest, in whichever pixel
        wait.until(lambda d: f"[{s[0]}, {f[0]}]" in d.find_element(By.ID, "cscan-readout").text)
        assert f"amplitude 32768, time of flight {depth[0] / 100:g} (sample {depth[0]})" in driver.find_element(
            By.ID, "cscan-readout").text
        timed("point", lambda: cursor(s[0], f[0], True))
        assert state("[v.point, v.ascan.point, v.ascan.gates[0]]") == [
            [s[0], f[0]], [s[0], f[0]], {"amplitude": 32768.0, "position": int(depth[0])}]

        gate(detect="threshold", threshold=10000)  # the time of flight of each indication, nothing elsewhere
        found = state("[arguments[0].map(([s, f]) => v.cscan.values.position[s * 400 + f]), "
                      "v.cscan.values.position.filter((p) => !Number.isNaN(p)).length]", np.c_[s, f].tolist())
        assert found == [depth.tolist(), 1000]
        # Depth at a typed velocity, in the readout and in the values exported; a reference point and the
        # distance to the point along each axis.
        control(velocity=5900, kind="depth")
        cursor(s[1], f[1])
        wait.until(lambda d: f"depth {depth[1] * 29.5:.6g}" in d.find_element(By.ID, "cscan-readout").text)
        table = np.genfromtxt(exported("csv").decode().splitlines(), delimiter=",")[::-1]
        assert np.allclose(table[s, f], depth * 29.5) and np.isnan(table).sum() == 20
        timed("point", lambda: cursor(s[2], f[2], True))
        driver.find_element(By.ID, "set-reference").click()
        timed("point", lambda: cursor(s[3], f[3], True))
        assert (f"distance {s[3] - s[2]} along the second axis, {f[3] - f[2]} along the first, "
                f"{(depth[3] - depth[2]) * 0.01:.6g} in time of flight ({depth[3] - depth[2]} samples)"
                ) in driver.find_element(By.ID, "measure").text
        control(kind="amplitude")

        control(threshold=-5)  # refused by the server: the views say so, never "drawn"
        wait.until(lambda d: state("v.errors.cscan"))
        assert "threshold is a magnitude" in state("v.errors.cscan") and "drawn" not in driver.find_element(
            By.ID, "status").text
        control(palette="grey")  # nothing draws the C-scan of the gate before over the error
        assert "threshold is a magnitude" in state("v.views.cscan.error") and state("v.cscan") is None
        control(palette="viridis")
        gate(detect="peak", threshold="")

        clicks = [timed("point", lambda: cursor(a, b, True)) for a, b in zip(s[1:21], f[1:21])]
        narrow = [gate(gate_start=start, gate_width=64) for start in (0, 64, 128, 192, 256)]
        gate(gate_start_at=1, gate_width_at=0.64)  # in coordinates of the sample axis
        assert state("[v.cscan.gate, document.getElementById('gate-start').value]") == [[100, 164], "100"]
        whole = [gate(gate_start=0, gate_width=512, detect=d) for d in ("threshold", "peak") * 2]
        def wheel(view, delta):
            driver.execute_script("const c = document.getElementById(arguments[0]), b = c.getBoundingClientRect(); "
                                  "c.dispatchEvent(new WheelEvent('wheel', {deltaY: arguments[1], clientX: b.left + "
                                  "b.width / 3, clientY: b.top + b.height / 3, bubbles: true, cancelable: true}));",
                                  view, delta)

        zooms = []
        for delta in (-100, -100, 100, 100) * 3:
            wheel("cscan", delta)
            zooms.append(state("v.views.cscan.drawMs"))
        # Linked zoom: the B-scans show the C-scan's range of their scan axis, and the A-scan theirs of samples.
        windows = "['cscan', 'bscan-first', 'bscan-second', 'ascan'].map((id) => v.views[id].window)"
        linked = []
        for delta in (-100, 100) * 5:  # the time the B-scans that follow take to draw, in the next frame
            wheel("cscan", delta)
            linked.append(driver.execute_async_script(
                "const done = arguments[arguments.length - 1], v = window.velfileViewer.views; requestAnimationFrame("
                "() => setTimeout(() => done(v['bscan-first'].drawMs + v['bscan-second'].drawMs)))"))
        wheel("cscan", -100)
        c, first, second, _ = state(windows)
        assert [first["x0"], first["x1"], second["x0"], second["x1"]] == [c["x0"], c["x1"], c["y0"], c["y1"]] != [
            0, 400, 0, 300]
        wheel("bscan-first", -100)
        c, first, second, a = state(windows)
        assert [second["y0"], second["y1"], a["x0"], a["x1"], c["x0"], c["x1"]] == [first["y0"], first["y1"]] * 2 + [
            first["x0"], first["x1"]]
        state("['cscan', 'ascan'].forEach((id) => v.views[id].reset())")
        state("Object.assign(v.views.cscan.window, {x0: 190, x1: 230, y0: 140, y1: 170}) && v.views.cscan.draw()")
        for point in ((150, 200), (151, 229), (169, 190)):  # zoomed in, each point drawn on several pixels
            timed("point", lambda: cursor(*point, True))
            assert state("v.point") == list(point)
        for key, point in ((Keys.ARROW_RIGHT, [169, 191]), (Keys.ARROW_UP, [170, 191])):  # a step along each axis
            timed("point", lambda: driver.find_element(By.ID, "cscan").send_keys(key))
            assert state("v.point") == point
        state("v.views.cscan.reset()")
        # 15 clicks 30 ms apart: the last one's point is drawn, the others' answers are dropped.
        burst = driver.execute_async_script(_MOUSE + """
            const done = arguments[arguments.length - 1], [, , , points] = arguments, v = window.velfileViewer;
            points.forEach(([s, f], i) => setTimeout(() => {
              const before = v.timings.length;
              mouse(s, f, ["mousedown", "mouseup"]);
              if (i === points.length - 1) {
                const last = performance.now();
                const check = () => (v.timings.length > before ? done([v.timings.length - before, v.point,
                  v.ascan.point, performance.now() - last]) : setTimeout(check, 1));
                check();
              }
            }, 30 * i));""", 0, 0, [], np.c_[s[30:45], f[30:45]].tolist())
        assert burst[1] == burst[2] == [s[44], f[44]] and burst[0] == 1, burst

        # A flood of 200 C-scan requests: the page's next click is not kept waiting behind them.
        port, token = url.split(":")[2].split("/")[0], url.split("token=")[1]

        def flood(i, slot=""):
            c = http.client.HTTPConnection("127.0.0.1", int(port), timeout=60)
            c.request("GET", f"/api/cscan?file=1&group=0/Plate&gate={i % 400}:{i % 400 + 100}&token={token}{slot}",
                      headers={"Authorization": f"token {token}"})
            return c.getresponse().status

        with ThreadPoolExecutor(2) as pool:  # a request of the same slot stops the one before it
            first = pool.submit(flood, 0, "&slot=test&seq=1")
            time.sleep(0.01)
            assert pool.submit(flood, 1, "&slot=test&seq=2").result() == 200 and first.result() == 409
            # A request sent before another of its view but arriving after it (on another connection)
            # is the one superseded.
            newer = pool.submit(flood, 2, "&slot=order&seq=5")
            time.sleep(0.01)
            assert flood(3, "&slot=order&seq=4") == 409 and newer.result() == 200

        with ThreadPoolExecutor(50) as pool:
            statuses = pool.map(flood, range(200))
            time.sleep(0.2)
            flooded = timed("point", lambda: cursor(s[50], f[50], True))
            assert set(statuses) <= {200, 503} and flooded < 1000, flooded

        os.utime(large, ns=(os.stat(large).st_atime_ns, os.stat(large).st_mtime_ns + 10**9))
        cursor(s[5], f[5], True)  # the page notices the change and reads the tree again
        wait.until(lambda d: "changed on disk" in d.find_element(By.ID, "status").text)

        figures = {"load": os.getloadavg()[0], "click to A-scan and both B-scans drawn, ms": clicks,
                   "64-sample gate to C-scan drawn, ms": narrow, "512-sample gate to C-scan drawn, ms": whole,
                   "zoom redrawn, ms": zooms, "linked zoom, both B-scans redrawn, ms": linked, "click during a flood of 200 C-scans, ms": flooded,
                   "last of 15 clicks 30 ms apart drawn after it, ms": burst[3]}
        with open(os.path.join(artifacts, "viewer-timings.json"), "w") as out:
            json.dump(figures, out, indent=1)
        median = lambda xs: float(np.median(xs))  # noqa: E731
        print(f"\n400 x 300 x 512 scan, load {figures['load']:.1f}: click {median(clicks):.0f} ms median, "
              f"{np.percentile(clicks, 95):.0f} ms 95th; gate of 64 {median(narrow):.0f} ms, "
              f"of 512 {median(whole):.0f} ms; "
              f"zoom {median(zooms):.1f} ms (max {max(zooms):.1f}), linked {median(linked):.1f} ms (max "
              f"{max(linked):.1f}); last of 15 quick clicks {burst[3]:.0f} ms")
        if writer:  # a shared link: gate 1 on the plate's front wall, gate 2 from it to the back wall; a flaw
            driver.set_window_size(1300, 1250)
            token = url.split("token=")[1]
            # A fresh load of the link: in the open page, whose reload after the
            # change above may still be under way, it would keep its own address.
            driver.get("about:blank")
            driver.get(f"{url.split('?')[0]}#token={token}&file=2&group=0%2FScan+A&point=100,80&gate=20:60"
                       "&gate2=20:150")
            wait.until(lambda d: state("v.timings.length && v.ascan !== null && v.cscan !== null "
                                       "&& v.cscan.values.position1 !== undefined"))  # gate 2's C-scan
            assert state("[v.point, v.ascan.gates.map((g) => g.position), v.cscan.values.position1[100 * 120 + 80]]") \
                == [[100, 80], [36, 156], 36]
            driver.save_screenshot(os.path.join(artifacts, "viewer.png"))
            driver.execute_script("location.hash = location.hash.replace('point=100%2C80', 'point=60%2C40')")
            wait.until(lambda d: state("v.ascan && v.ascan.point") == [60, 40])  # an address edited in the page
    finally:
        driver.quit()
        process.send_signal(signal.SIGINT)
        process.wait(30)
    logged = list(printed.queue)
    assert process.returncode == 0 and "velfile view: stopped" in logged, logged
    assert any("503 GET /api/cscan" in line for line in logged)  # the flood's refusals, logged by path only,
    assert not any(url.split("token=")[1] in line for line in logged)  # though their queries held the token


def test_a_file_another_process_reads_is_served(server, paths):
    holder = subprocess.Popen(
        [sys.executable, "-c", "import sys, velfile; f = velfile.open(sys.argv[1]); print('open', flush=True); "
         "sys.stdin.read()", paths[0]], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
        env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    try:
        assert holder.stdout.readline().strip() == "open"
        assert get(server, f"/api/cscan?{SCAN}&gate=4:12")[0] == 200
    finally:
        holder.communicate("", timeout=30)
    assert holder.returncode == 0
