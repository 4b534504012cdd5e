"""The viewer: its JSON views and refusals over HTTP, and the page in headless
Chromium (clicks, the gate, the time from click to drawn view)."""
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
from urllib.parse import quote

import numpy as np
import pytest

import velfile

pytest.importorskip("tornado", reason="the viewer needs Tornado (Debian python3-tornado)")
pytest.importorskip("matplotlib", reason="the viewer draws with matplotlib (Debian python3-matplotlib)")
from velfile.viewer import Viewer  # noqa: E402

SAMPLES = ((np.arange(4 * 5 * 16).reshape(4, 5, 16) * 37) % 2001 - 1000).astype(np.int16)
MASK = np.ones((4, 5), bool)
MASK[1, 2] = False
SCAN = "file=0&group=0/Scan"


@pytest.fixture(scope="module")
def paths(tmp_path_factory):
    """A sound file (a setup group whose name is markup, a data group) and a damaged one."""
    folder = tmp_path_factory.mktemp("viewer")
    good, damaged = str(folder / "good.A01"), str(folder / "damaged.A01")
    with velfile.create(good) as f:
        root = f.create_group("Inspection")
        setup = root.create_group("<img src=x>", 1)
        setup.write_item(1, np.arange(100, dtype=np.int32))
        setup.write_item(2, "Gate A")
        root.create_group("Scan", 2).write_data(SAMPLES, MASK, axes=[(0.5, 10.0), (2.0, -1.0), (0.1, 0.0)])
    with open(good, "rb") as f, open(damaged, "wb") as out:
        out.write(f.read()[: 200])
    return good, damaged


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


def get(viewer, path, host=None, token=True):
    connection = http.client.HTTPConnection("127.0.0.1", viewer.port, timeout=30)
    headers = {"Host": host or f"127.0.0.1:{viewer.port}"}
    if token:
        headers["Authorization"] = f"token {viewer.token if token is True else token}"
    connection.request("GET", quote(path, safe="/?&=,:"), headers=headers)
    response = connection.getresponse()
    body = response.read()
    return response.status, json.loads(body) if response.getheader("Content-Type", "").startswith(
        "application/json") else body


def peak(s, f, start, stop):
    return float(np.abs(SAMPLES[s, f, start:stop].astype(float)).max())


VIEWS = [
    ("tree?file=0", lambda j: [(g["path"], g["items"], g["data"]) for g in j["groups"]] == [
        ("0", 3, False), ("0/<img src=x>", 3, False), ("0/Scan", 71, True)]),
    ("group?file=0&group=0/<img src=x>", lambda j: [(i["id"], i["whole"]) for i in j["items"]] == [
        (10000, True), (1, False), (2, True)] and j["items"][2]["value"] == "'Gate A'" and "data" not in j),
    (f"group?{SCAN}", lambda j: j["module"] == "data" and dict(j["fields"])["sampleQty"] == 16 and j["data"][
        "axes"]["first"] == {"count": 5, "start": -1.0, "step": 2.0, "end": 7.0}),
    ("item?file=0&group=0/<img src=x>&index=1", lambda j: j["value"] == list(range(100))),
    (f"point?{SCAN}&point=2,3&gate=4:12", lambda j: j["values"] == SAMPLES[2, 3].tolist()
     and j["peak"] == peak(2, 3, 4, 12) and j["image"].startswith("data:image/png;base64,")),
    (f"point?{SCAN}&point=1,2", lambda j: not j["has_data"] and j["values"] is None),
    (f"line?{SCAN}&line=3&along=second", lambda j: j["x"] == "second" and j["frame"]["xlim"] == [9.75, 11.75]),
    (f"cscan?{SCAN}&gate=4:12", lambda j: j["gate"] == [4, 12] and j["frame"]["xlim"] == [-2.0, 8.0]),
]


@pytest.mark.parametrize("query,check", VIEWS, ids=[q.split("?")[0] for q, _ in VIEWS])
def test_views(server, query, check):
    status, answer = get(server, "/api/" + query)
    assert status == 200 and check(answer), answer


REFUSED = [
    (f"point?{SCAN}&point=4,0", {}, 400, "outside the 4 x 5 points"),
    (f"cscan?{SCAN}&gate=5:5", {}, 400, "gate 5:5"),
    (f"line?{SCAN}&line=0&along=depth", {}, 400, "'depth'"),
    (f"line?{SCAN}&line=5&along=second", {}, 400, "line 5"),
    ("tree?file=x", {}, 400, "not an integer"),
    ("group?file=2&group=0", {}, 404, "files 0 to 1"),
    ("group?file=0&group=0/Nothing", {}, 404, "Nothing"),
    ("item?file=0&group=0/Scan&index=99", {}, 404, "no item [99]"),
    ("cscan?file=0&group=0/<img src=x>", {}, 422, "data"),
    ("tree?file=1", {}, 422, "damaged.A01"),
    ("tree?file=0&module=x", {"token": "wrong"}, 403, "token"),
    ("tree?file=0", {"token": False}, 403, "token"),
    ("tree?file=0", {"host": "attacker.example:80"}, 403, "Host header"),
    ("nothing", {}, 404, "no view"),
]


@pytest.mark.parametrize("query,how,status,words", REFUSED)
def test_refusals(server, query, how, status, words):
    got, answer = get(server, "/api/" + query, **how)
    assert got == status and words in answer["error"], answer
    assert get(server, "/api/files")[0] == 200  # and the server goes on


def test_page_and_its_cookie(server):
    status, page = get(server, "/")
    assert status == 200 and b'<script src="/static/viewer.js"' in page and b"<script>" not in page
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
    connection.request("GET", f"/?token={server.token}")
    response = connection.getresponse()
    cookie = response.getheader("Set-Cookie")
    assert response.status == 302 and server.token in cookie and "HttpOnly" in cookie and "SameSite=Strict" in cookie
    assert "script-src 'self'" in response.getheader("Content-Security-Policy")


# --- the page in a browser ---

def _driver():
    if not (shutil.which("chromium") and os.path.exists("/usr/bin/chromedriver")):
        pytest.skip("no Chromium: install Debian chromium and chromium-driver to run the browser test")
    webdriver = pytest.importorskip("selenium.webdriver", reason="needs Debian python3-selenium")
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1300,1250"):
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


def test_browser(paths, tmp_path):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    files = [paths[0]]
    writer = os.environ.get("VELFILE_WRITE_INSPECTION")  # the example's file, for the timings
    if writer:
        files.append(str(tmp_path / "inspection.A01"))
        subprocess.run([writer, files[1]], check=True, stdout=subprocess.DEVNULL)
    driver = _driver()
    process, printed, url = _start(files)
    artifacts = os.path.abspath(os.environ.get("VELFILE_ARTIFACTS", "artifacts"))
    os.makedirs(artifacts, exist_ok=True)
    try:
        wait = WebDriverWait(driver, 30, poll_frequency=0.05)
        state = lambda expr: driver.execute_script(f"const v = window.velfileViewer; return {expr};")  # noqa: E731
        driver.get(url)

        def act(action, *, select=None, click=None, drag=None):
            """One action of the user, done when the page has timed it."""
            done = len(state("v.timings"))
            if select:
                wait.until(lambda d: d.find_element(By.CSS_SELECTOR, f'button[data-file="{select[0]}"]'
                                                                     f'[data-path="{select[1]}"]')).click()
            else:
                view, x, y = (click or drag)[:3]
                image = driver.find_element(By.ID, view)
                at = state(f"v.where('{view}', {x}, {y})")
                chain = ActionChains(driver, duration=20).move_to_element_with_offset(
                    image, at["x"] - image.size["width"] / 2, at["y"] - image.size["height"] / 2)
                if click:
                    chain.click()
                else:
                    to = state(f"v.where('{view}', {drag[3]})")
                    chain.click_and_hold().move_by_offset(to["x"] - at["x"], 0).release()
                chain.perform()
            wait.until(lambda d: len(state("v.timings")) > done)
            timing = state("v.timings")[-1]
            assert timing["action"] == action, state("v")
            return timing["ms"]

        act("data group", select=(0, "0/Scan"))
        act("point", click=("cscan", "v.coord('first', 3)", "v.coord('second', 2)"))
        assert state("v.ascan") == {"point": [2, 3], "has_data": True, "values": SAMPLES[2, 3].tolist(),
                                    "peak": peak(2, 3, 0, 16), "gate": [0, 16]}
        act("gate", drag=("ascan", "v.coord('sample', 4)", "undefined", "v.coord('sample', 11)"))
        assert state("[v.gate, v.ascan.gate, v.ascan.peak]") == [[4, 12], [4, 12], peak(2, 3, 4, 12)]
        shown = driver.find_element(By.CSS_SELECTOR, 'button[data-path="0/<img src=x>"]')
        assert "<img src=x>" in shown.text and not driver.find_elements(By.CSS_SELECTOR, "nav img")
        if writer:
            act("data group", select=(1, "0/Scan A"))
            clicks = [act("point", click=("cscan", f"v.coord('first', {f})", f"v.coord('second', {s})"))
                      for s, f in ((40, 30), (100, 90), (130, 20))]
            gate = act("gate", drag=("ascan", "v.coord('sample', 40)", "undefined", "v.coord('sample', 120)"))
            with open(os.path.join(artifacts, "viewer-timings.json"), "w") as out:
                json.dump({"click to drawn, ms": clicks, "gate to drawn, ms": gate}, out)
            print(f"\nexample's file: click to drawn {[round(ms) for ms in clicks]} ms, gate {round(gate)} ms")
        driver.save_screenshot(os.path.join(artifacts, "viewer.png"))
    finally:
        driver.quit()
        process.send_signal(signal.SIGINT)
        process.wait(30)
    assert process.returncode == 0 and "velfile view: stopped" in list(printed.queue), list(printed.queue)


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
