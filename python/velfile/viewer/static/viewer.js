// The viewer's page: the trees of the files, a group's items and descriptor,
// and for a data group the linked C-, A- and B-scans. The server draws every
// picture and sends with it where its axes lie, so that a click maps to a
// point. Every text from a file is set as text, never as markup.
"use strict";
(() => {
  const $ = (id) => document.getElementById(id);

  // The page's state, open to scripts and tests: the selection, the gate, the
  // shown A-scan's values, and how long each action took from the click to
  // the drawn pictures (timings: {action, ms}).
  const state = {file: null, group: null, data: null, point: null, gate: null, ascan: null, frames: {},
                 lines: {}, timings: [], names: {}};
  window.velfileViewer = state;
  const seq = {group: 0, cscan: 0, ascan: 0, "bscan-first": 0, "bscan-second": 0};

  function el(tag, text, cls) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
  }

  function button(text, action) {
    const b = el("button", text);
    b.type = "button";
    b.addEventListener("click", action);
    return b;
  }

  const fmt = (x) => (typeof x === "number" ? String(Number(x.toPrecision(6))) : String(x));

  function status(text, isError) {
    $("status").textContent = text;
    $("status").className = isError ? "error" : "";
  }

  async function api(view, params) {
    const response = await fetch(`/api/${view}?${new URLSearchParams(params)}`, {credentials: "same-origin"});
    let body = null;
    try {
      body = await response.json();
    } catch (e) {
      body = null;
    }
    if (!response.ok) throw new Error(body && body.error ? body.error : `${response.status} ${response.statusText}`);
    return body;
  }

  function timing(action, t0) {
    const ms = performance.now() - t0;
    state.timings.push({action, ms});
    status(`${action} drawn in ${Math.round(ms)} ms`);
  }

  // --- files and groups ---

  async function loadFiles() {
    const {files} = await api("files", {});
    for (const f of files) {
      state.names[f.index] = f.name;
      const box = el("div", undefined, "file");
      const name = el("div", f.name, "file-name");
      name.title = f.path;
      box.append(name);
      $("files").append(box);
      loadTree(f.index, box);
    }
  }

  async function loadTree(file, box) {
    try {
      const tree = await api("tree", {file});
      box.append(el("div", tree.sections.map((s) => `section ${s.index}: ${s.size} bytes, ${s.byte_order}-endian`)
        .join("; "), "sections"));
      for (const g of tree.groups) {
        const b = button("", () => selectGroup(file, g.path));
        b.className = "group";
        b.dataset.file = file;
        b.dataset.path = g.path;
        b.title = g.path;
        b.style.paddingLeft = `${0.2 + 1.1 * g.depth}em`;
        b.append(el("span", g.name || "(no name)"), el("span", ` ${g.items} items`, "count"));
        if (g.data) b.append(el("span", "data", "badge"));
        if (g.state !== "open") b.append(el("span", ` (${g.state}: ${g.reason})`, "error"));
        box.append(b);
      }
      if (!tree.complete) box.append(el("div", "(more groups than shown)", "note"));
    } catch (e) {
      box.append(el("div", e.message, "error"));
    }
  }

  function showError(id, message) {
    $(id).textContent = message;
    $(id).hidden = !message;
  }

  function fill(table, rows) {
    const body = $(table).tBodies[0];
    body.replaceChildren(...rows.map((cells) => {
      const tr = el("tr");
      for (const c of cells) {
        const td = el("td");
        td.append(...(Array.isArray(c) ? c : [c]));
        tr.append(td);
      }
      return tr;
    }));
  }

  const shown = (v) => (typeof v === "string" ? v : JSON.stringify(v));

  async function selectGroup(file, path, module) {
    const n = ++seq.group;
    Object.assign(state, {file, group: path, data: null, point: null, ascan: null, frames: {}, lines: {}});
    for (const b of document.querySelectorAll("button.group")) {
      b.classList.toggle("selected", b.dataset.file === String(file) && b.dataset.path === path);
    }
    $("hint").hidden = true;
    $("group").hidden = false;
    $("data").hidden = true;
    $("item-value").hidden = true;
    $("group-title").textContent = `${state.names[file]}: ${path}`;
    showError("group-error", "");
    showError("fields-error", "");
    fill("items", []);
    fill("fields", []);
    let g;
    try {
      g = await api("group", module ? {file, group: path, module} : {file, group: path});
    } catch (e) {
      if (n === seq.group) showError("group-error", e.message);
      return;
    }
    if (n !== seq.group) return;
    $("group-title").textContent = `${state.names[file]}: ${g.path} (${g.name})`;
    fill("items", g.items.map((it) => {
      const value = el("span", it.value);
      const more = it.group ? [button("open", () => selectGroup(file, it.group))]
        : it.whole ? [] : [button("show all", () => showItem(file, g.path, it.index))];
      return [it.index, it.id, it.type, it.count, [value, " ", ...more]];
    }));
    for (const row of $("items").tBodies[0].rows) row.cells[4].className = "value";
    if (g.item_count > g.items.length) showError("group-error", `${g.item_count - g.items.length} more items not listed`);
    const select = $("module");
    select.replaceChildren(el("option", "(none)"), ...g.modules.map((m) => el("option", m)));
    select.firstChild.value = "";
    select.value = g.module || "";
    $("module-note").textContent = g.module && g.module !== g.guess ? "(chosen by hand)" : g.note;
    fill("fields", (g.fields || []).map(([k, v]) => [k, shown(v)]));
    for (const row of $("fields").tBodies[0].rows) row.cells[1].className = "value";
    showError("fields-error", g.fields_error || "");
    if (g.data_error) showError("group-error", g.data_error);
    if (g.data) showData(g.data);
  }

  async function showItem(file, path, index) {
    try {
      const it = await api("item", {file, group: path, index});
      const head = `item [${it.index}], id ${it.id}, ${it.type} x ${it.count}` +
        (it.shown < it.count ? ` (the first ${it.shown})` : "");
      const value = Array.isArray(it.value) ? it.value.map(shown).join(", ") : shown(it.value);
      $("item-value").textContent = `${head}\n${value}`;
    } catch (e) {
      $("item-value").textContent = e.message;
    }
    $("item-value").hidden = false;
  }

  // --- the scans ---

  const coord = (axis, i) => state.data.axes[axis].start + i * state.data.axes[axis].step;

  function indexAt(axis, c) {
    const a = state.data.axes[axis];
    const i = a.step ? Math.round((c - a.start) / a.step) : 0;
    return Math.min(Math.max(i, 0), a.count - 1);
  }

  // The data coordinates (x, y) under a mouse event on a picture, or null
  // outside its axes (clamped to them with clamp).
  function coordsAt(id, event, clamp) {
    const img = $(id);
    const f = state.frames[id];
    if (!f || !img.naturalWidth) return null;
    const r = img.getBoundingClientRect();
    let px = ((event.clientX - r.left) * img.naturalWidth) / r.width;
    let py = ((event.clientY - r.top) * img.naturalHeight) / r.height;
    const [x0, y0, x1, y1] = f.box;
    if (clamp) {
      px = Math.min(Math.max(px, x0), x1);
      py = Math.min(Math.max(py, y0), y1);
    } else if (px < x0 || px > x1 || py < y0 || py > y1) {
      return null;
    }
    return {x: f.xlim[0] + ((px - x0) / (x1 - x0)) * (f.xlim[1] - f.xlim[0]),
            y: f.ylim[1] + ((py - y0) / (y1 - y0)) * (f.ylim[0] - f.ylim[1])};
  }

  // Where coordinates (x, y) lie on a picture as drawn, in CSS pixels from its
  // top left corner; without y, halfway down its axes.
  function where(id, x, y) {
    const img = $(id);
    const f = state.frames[id];
    const [x0, y0, x1, y1] = f.box;
    const scale = img.clientWidth / img.naturalWidth;
    const py = y === undefined ? (y0 + y1) / 2 : y0 + ((y - f.ylim[1]) / (f.ylim[0] - f.ylim[1])) * (y1 - y0);
    return {x: scale * (x0 + ((x - f.xlim[0]) / (f.xlim[1] - f.xlim[0])) * (x1 - x0)), y: scale * py};
  }
  state.where = where;
  state.coord = coord;

  function show(id, answer) {
    const img = $(id);
    img.classList.remove("failed");
    return new Promise((resolve, reject) => {
      img.onload = () => {
        state.frames[id] = answer.frame;
        resolve();
      };
      img.onerror = () => reject(new Error(`the ${img.alt} could not be shown`));
      img.src = answer.image;
    });
  }

  function failed(id, error) {
    const img = $(id);
    img.removeAttribute("src");
    img.classList.add("failed");
    delete state.frames[id];
    status(error.message, true);
    placeMarkers();
  }

  // The point on the C-scan (a ring) and on the B-scans (a line across each).
  function placeMarkers() {
    const [s, f] = state.point || [];
    const marker = $("marker");
    marker.hidden = !(state.point && state.frames.cscan);
    if (!marker.hidden) {
      const at = where("cscan", coord("first", f), coord("second", s));
      marker.style.left = `${at.x}px`;
      marker.style.top = `${at.y}px`;
    }
    for (const [along, line, at] of [["first", s, f], ["second", f, s]]) {
      const id = `bscan-${along}`;
      const mark = $(`mark-${along}`);
      mark.hidden = !(state.point && state.frames[id] && state.lines[along] === line);
      if (mark.hidden) continue;
      const scale = $(id).clientWidth / $(id).naturalWidth;
      const box = state.frames[id].box;
      mark.style.left = `${where(id, coord(along, at)).x}px`;
      mark.style.top = `${scale * box[1]}px`;
      mark.style.height = `${scale * (box[3] - box[1])}px`;
    }
  }

  function showGate() {
    const [start, stop] = state.gate;
    $("gate-start").value = start;
    $("gate-stop").value = stop;
    $("gate-coords").textContent = `(${fmt(coord("sample", start))} to ${fmt(coord("sample", stop - 1))} on the sample axis)`;
  }

  async function showData(d) {
    const axes = ["second", "first", "sample"].map((name) => {
      const a = d.axes[name];
      return `${name} axis ${a.count} from ${fmt(a.start)} to ${fmt(a.end)}`;
    });
    $("data-facts").textContent = `Data class ${d.class}, ${d.shape.join(" x ")} ${d.type}; ${axes.join(", ")}.` +
      (d.scans ? "" : " Variable records: no scans.");
    if (!d.scans || d.shape[0] * d.shape[1] * d.shape[2] === 0) return;
    state.data = d;
    state.gate = [0, d.shape[2]];
    state.lines = {};
    $("gate-start").max = d.shape[2] - 1;
    $("gate-stop").max = d.shape[2];
    showGate();
    for (const id of ["cscan", "ascan", "bscan-first", "bscan-second"]) $(id).removeAttribute("src");
    $("data").hidden = false;
    const t0 = performance.now();
    await Promise.all([drawCscan(), selectPoint(Math.floor(d.shape[0] / 2), Math.floor(d.shape[1] / 2), true)]);
    timing("data group", t0);
  }

  const selection = () => ({file: state.file, group: state.group});

  async function drawCscan() {
    const n = ++seq.cscan;
    try {
      const answer = await api("cscan", {...selection(), gate: state.gate.join(":")});
      if (n !== seq.cscan) return;
      await show("cscan", answer);
      placeMarkers();
    } catch (e) {
      if (n === seq.cscan) failed("cscan", e);
    }
  }

  async function drawAscan() {
    const n = ++seq.ascan;
    try {
      const a = await api("point", {...selection(), point: state.point.join(","), gate: state.gate.join(":")});
      if (n !== seq.ascan) return;
      await show("ascan", a);
      state.ascan = {point: a.point, has_data: a.has_data, values: a.values, peak: a.peak, gate: a.gate};
      const [s, f] = a.point;
      $("point-info").textContent = `A-scan of point (${s}, ${f}), at ${fmt(coord("second", s))} on the second ` +
        `axis and ${fmt(coord("first", f))} on the first: ` +
        (a.has_data ? `peak |sample| in the gate ${fmt(a.peak)}` : "no data at this point");
    } catch (e) {
      if (n === seq.ascan) failed("ascan", e);
    }
  }

  // A B-scan is drawn again only when the point leaves its line.
  async function drawLine(along) {
    const id = `bscan-${along}`;
    const line = state.point[along === "first" ? 0 : 1];
    if (state.lines[along] === line) return;
    const n = ++seq[id];
    try {
      const answer = await api("line", {...selection(), along, line});
      if (n !== seq[id]) return;
      await show(id, answer);
      state.lines[along] = line;
    } catch (e) {
      delete state.lines[along];
      if (n === seq[id]) failed(id, e);
    }
  }

  async function selectPoint(s, f, quiet) {
    const t0 = performance.now();
    state.point = [s, f];
    placeMarkers();
    await Promise.all([drawAscan(), drawLine("first"), drawLine("second")]);
    placeMarkers();
    if (!quiet) timing("point", t0);
  }

  async function setGate(start, stop) {
    const n = state.data.shape[2];
    if (!(Number.isInteger(start) && Number.isInteger(stop) && start >= 0 && start < stop && stop <= n)) {
      status(`a gate is a range of samples: from 0 to ${n}, its first below its end`, true);
      showGate();
      return;
    }
    const t0 = performance.now();
    state.gate = [start, stop];
    showGate();
    await Promise.all([drawCscan(), drawAscan()]);
    timing("gate", t0);
  }

  function pointFrom(id, event) {
    if (!state.data || !state.point) return;
    const c = coordsAt(id, event);
    if (!c) return;
    const [s, f] = state.point;
    if (id === "cscan") selectPoint(indexAt("second", c.y), indexAt("first", c.x));
    else if (id === "bscan-first") selectPoint(s, indexAt("first", c.x));
    else selectPoint(indexAt("second", c.x), f);
  }

  // Dragging across the A-scan sets the gate.
  let drag = null;

  function dragTo(event) {
    const r = $("ascan").getBoundingClientRect();
    const x = Math.min(Math.max(event.clientX, r.left), r.right);
    $("band").style.left = `${Math.min(drag.x, x) - r.left}px`;
    $("band").style.width = `${Math.abs(x - drag.x)}px`;
  }

  function startDrag(event) {
    const c = state.data && coordsAt("ascan", event);
    if (!c) return;
    event.preventDefault();
    drag = {x: event.clientX, start: indexAt("sample", c.x)};
    $("band").hidden = false;
    dragTo(event);
  }

  function endDrag(event) {
    if (!drag) return;
    const from = drag;
    drag = null;
    $("band").hidden = true;
    const c = coordsAt("ascan", event, true);
    if (!c || Math.abs(event.clientX - from.x) < 3) return;
    const end = indexAt("sample", c.x);
    setGate(Math.min(from.start, end), Math.max(from.start, end) + 1);
  }

  function start() {
    for (const id of ["cscan", "bscan-first", "bscan-second"]) $(id).addEventListener("click", (e) => pointFrom(id, e));
    $("ascan").addEventListener("mousedown", startDrag);
    window.addEventListener("mousemove", (e) => drag && dragTo(e));
    window.addEventListener("mouseup", endDrag);
    window.addEventListener("resize", placeMarkers);
    for (const id of ["gate-start", "gate-stop"]) {
      $(id).addEventListener("change", () => setGate(Number($("gate-start").value), Number($("gate-stop").value)));
    }
    $("module").addEventListener("change", () => selectGroup(state.file, state.group, $("module").value));
    loadFiles().catch((e) => status(e.message, true));
  }

  start();
})();
