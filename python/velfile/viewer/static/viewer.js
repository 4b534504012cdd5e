// The viewer's page: the trees of the files, a group's items and descriptor,
// and for a data group the linked C-, A- and B-scans, drawn here from the
// values the server sends (plots.js). Every text from a file is set as text,
// never as markup, with the characters that would hide or reorder it shown
// as escapes. The token comes from the page's address and goes in a header.
"use strict";
(() => {
  const $ = (id) => document.getElementById(id);
  const {ImageView, LineView, scaleOf, fmt} = window.velfilePlots;

  // The page's state, open to scripts and tests: the selection, the gates,
  // the shown values, and how long each action took from the input to the
  // drawn views (timings: {action, ms}).
  const state = {file: null, group: null, data: null, point: null, reference: null, ascan: null, cscan: null,
                 lines: {}, timings: [], names: {}, stamps: {}, errors: {}};
  window.velfileViewer = state;
  const seq = {};
  const pending = {};
  const client = Math.random().toString(36).slice(2);

  // --- the address: the token and the view's state ---

  const address = new URLSearchParams(location.hash.slice(1));
  const query = new URLSearchParams(location.search);
  if (query.get("token")) address.set("token", query.get("token"));
  const token = address.get("token") || "";
  const restore = Object.fromEntries(address);
  history.replaceState(null, "", `/#${address}`);

  function remember() {
    const p = new URLSearchParams({token});
    if (state.file !== null) p.set("file", state.file);
    if (state.group !== null) p.set("group", state.group);
    if (state.data) {
      p.set("point", state.point.join(","));
      const g = gates();
      p.set("gate", `${g.gate}`);
      for (const k of ["detect", "threshold", "gate2", "detect2", "threshold2", "envelope"]) if (g[k]) p.set(k, g[k]);
      for (const id of ["gate-start-at", "gate-width-at"]) $(id).addEventListener("change", gateFromCoords);
    for (const id of ["kind", "velocity", "palette", "scale", "vmin", "vmax", "reference"]) {
        if ($(id).value !== "") p.set(id, $(id).value);
      }
      const w = views.cscan.window;
      if (w) p.set("zoom", [w.x0, w.x1, w.y0, w.y1].map((x) => Number(x.toFixed(3))).join(","));
      if (!$("to-scale").checked) p.set("fill", "1");
    }
    history.replaceState(null, "", `/#${p}`);
  }

  // Characters that would hide or reorder a name are shown as escapes:
  // controls, bidirectional overrides and isolates, zero-width characters.
  const HIDDEN =
    /[\u0000-\u001f\u007f-\u009f\u00ad\u061c\u180e\u200b-\u200f\u202a-\u202e\u2060-\u206f\ufeff\ufff9-\ufffb]/g;
  const visible = (text) => {
    const s = String(text).replace(HIDDEN, (c) => `\\u{${c.codePointAt(0).toString(16).padStart(4, "0")}}`);
    return s !== s.trim() || s === "" ? `"${s}"` : s;
  };
  state.visible = visible;

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

  function status(text, isError) {
    $("status").textContent = text;
    $("status").className = isError ? "error" : "";
  }

  class Stale extends Error {}

  // One request of the API. A request of a slot (a view) aborts the one
  // before it, and the answer of a superseded request is dropped (Stale).
  async function api(view, params, slot) {
    let signal;
    let n = 0;
    if (slot) {
      if (pending[slot]) pending[slot].abort();
      pending[slot] = new AbortController();
      signal = pending[slot].signal;
      n = seq[slot] = (seq[slot] || 0) + 1;
      params = {...params, slot: `${client}-${slot}`, seq: n};
    }
    let response;
    try {
      response = await fetch(`/api/${view}?${new URLSearchParams(params)}`,
                             {headers: {Authorization: `token ${token}`}, signal, credentials: "omit"});
    } catch (e) {
      if (e.name === "AbortError") throw new Stale();
      throw new Error(`the viewer cannot be reached: ${e.message}`);
    }
    const type = response.headers.get("Content-Type") || "";
    const body = type.startsWith("application/octet-stream") ? decode(await response.arrayBuffer())
      : await response.json().catch(() => null);
    if (slot && n !== seq[slot]) throw new Stale();
    if (!response.ok) throw new Error(body && body.error ? body.error : `${response.status} ${response.statusText}`);
    const stamp = body.stamp;
    if (stamp && params.file !== undefined && state.stamps[params.file] && state.stamps[params.file] !== stamp) {
      changed(Number(params.file), stamp);
      throw new Stale();
    }
    return body;
  }

  const TYPES = {i1: Int8Array, u1: Uint8Array, i2: Int16Array, u2: Uint16Array, i4: Int32Array, u4: Uint32Array,
                 f4: Float32Array, f8: Float64Array};

  // A binary answer: its JSON header, and each array as a typed array.
  function decode(buffer) {
    const length = new DataView(buffer).getUint32(0, true);
    const header = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, length)));
    const base = 4 + length;
    header.values = {};
    for (const a of header.arrays) {
      const count = a.shape.reduce((x, y) => x * y, 1);
      header.values[a.name] = new TYPES[a.dtype](buffer, base + a.offset, count);
    }
    return header;
  }

  function timing(action, t0) {
    const ms = performance.now() - t0;
    state.timings.push({action, ms});
    const failedViews = Object.entries(state.errors).filter(([, e]) => e);
    if (failedViews.length) status(failedViews.map(([id, e]) => `${id}: ${e}`).join("; "), true);
    else if (state.notice) status(`${state.notice}; ${action} drawn in ${Math.round(ms)} ms`, true);
    else status(`${action} drawn in ${Math.round(ms)} ms`);
  }

  // --- files and groups ---

  async function loadFiles() {
    const {files} = await api("files", {});
    for (const f of files) {
      state.names[f.index] = visible(f.name);
      const box = el("div", undefined, "file");
      box.id = `file-${f.index}`;
      $("files").append(box);
      await loadTree(f.index, box, f);
    }
    if (restore.file !== undefined && restore.group !== undefined) {
      selectGroup(Number(restore.file), restore.group, undefined, restore);
    }
  }

  async function loadTree(file, box, f) {
    const name = el("div", state.names[file], "file-name");
    name.title = f ? f.path : "";
    box.replaceChildren(name);
    try {
      const tree = await api("tree", {file});
      state.stamps[file] = tree.stamp;
      box.append(el("div", tree.sections.map((s) => `section ${s.index}: ${s.size} bytes, ${s.byte_order}-endian`)
        .join("; "), "sections"));
      for (const note of tree.notes) box.append(el("div", note, "error layout"));
      for (const g of tree.groups) {
        const b = button("", () => {
          state.notice = null;
          selectGroup(file, g.path);
        });
        b.className = "group";
        b.dataset.file = file;
        b.dataset.path = g.path;
        b.title = visible(g.path);
        b.style.paddingLeft = `${0.2 + 1.1 * g.depth}em`;
        b.append(el("span", visible(g.name) || "(no name)", "name"), el("span", ` ${g.items} items`, "count"));
        if (g.data) b.append(el("span", "data", "badge"));
        if (g.state !== "open") b.append(el("span", ` (${g.state}: ${visible(g.reason)})`, "error"));
        box.append(b);
      }
      if (!tree.complete) box.append(el("div", "(more groups than shown)", "note"));
    } catch (e) {
      box.append(el("div", e.message, "error"));
    }
  }

  // The file changed on disk: its tree is read again and its group reopened.
  async function changed(file, stamp) {
    if (state.reloading) return;
    state.reloading = true;
    status(`${state.names[file]} changed on disk: its tree is read again`, true);
    state.stamps[file] = stamp;
    try {
      await loadTree(file, $(`file-${file}`));
      state.notice = `${state.names[file]} changed on disk: shown as it is now`;
      const view = Object.fromEntries(new URLSearchParams(location.hash.slice(1))); // as the address keeps it
      if (state.file === file) await selectGroup(file, state.group, undefined, view);
      status(state.notice, true);
    } finally {
      state.reloading = false;
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

  const shown = (v) => visible(typeof v === "string" ? v : JSON.stringify(v));

  async function selectGroup(file, path, module, restoring) {
    Object.assign(state, {file, group: path, data: null, point: null, ascan: null, cscan: null, lines: {},
                          reference: null});
    for (const b of document.querySelectorAll("button.group")) {
      b.classList.toggle("selected", b.dataset.file === String(file) && b.dataset.path === path);
    }
    $("hint").hidden = true;
    $("group").hidden = false;
    $("data").hidden = true;
    $("item-value").hidden = true;
    $("group-title").textContent = `${state.names[file]}: ${visible(path)}`;
    showError("group-error", "");
    showError("fields-error", "");
    fill("items", []);
    fill("fields", []);
    let g;
    try {
      g = await api("group", module ? {file, group: path, module} : {file, group: path}, "group");
    } catch (e) {
      if (!(e instanceof Stale)) showError("group-error", e.message);
      return;
    }
    $("group-title").textContent = `${state.names[file]}: ${visible(g.path)} (${visible(g.name)})`;
    fill("items", g.items.map((it) => {
      const value = el("span", visible(it.value));
      const more = it.group ? [button("open", () => selectGroup(file, it.group))]
        : it.whole ? [] : [button("show all", () => showItem(file, g.path, it.index))];
      return [it.index, it.id, it.type, it.count, [value, " ", ...more]];
    }));
    for (const row of $("items").tBodies[0].rows) row.cells[4].className = "value";
    if (g.item_count > g.items.length) {
      showError("group-error", `${g.item_count - g.items.length} more items not listed`);
    }
    const select = $("module");
    select.replaceChildren(el("option", "(none)"), ...g.modules.map((m) => el("option", m)));
    select.firstChild.value = "";
    select.value = g.module || "";
    $("module-note").textContent = g.module && g.module !== g.guess ? "(chosen by hand)" : g.note;
    fill("fields", (g.fields || []).map(([k, v]) => [k, shown(v)]));
    for (const row of $("fields").tBodies[0].rows) row.cells[1].className = "value";
    showError("fields-error", g.fields_error || "");
    if (g.data_error) showError("group-error", g.data_error);
    remember();
    if (g.data) await showData(g.data, restoring || {});
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
  state.coord = coord;
  const axisOf = (name) => ({...state.data.axes[name], name: `${name} axis`});

  // The gates as the page's inputs give them (samples).
  function gates() {
    const start = Number($("gate-start").value);
    const width = Number($("gate-width").value);
    const out = {gate: `${start}:${start + width}`, start, width, detect: $("detect").value,
                 threshold: $("detect").value === "threshold" ? $("threshold").value : "",
                 envelope: $("envelope").checked ? "1" : ""};
    if ($("gate2-on").checked) {
      out.gate2 = `${Number($("gate2-start").value)}:${Number($("gate2-width").value)}`;
      out.detect2 = $("detect2").value;
      out.threshold2 = $("detect2").value === "threshold" ? $("threshold2").value : "";
    }
    return out;
  }

  function gateParams() {
    const g = gates();
    const p = {gate: g.gate, detect: g.detect};
    for (const k of ["threshold", "gate2", "detect2", "threshold2", "envelope"]) if (g[k]) p[k] = g[k];
    return p;
  }

  // The colour scale the amplitude views share.
  function amplitudeScale() {
    const db = $("scale").value === "db";
    const top = state.cscan ? state.cscan.max : 1;
    const reference = Number($("reference").value) || top || 1;
    const min = $("vmin").value !== "" ? Number($("vmin").value) : db ? -40 : 0;
    const max = $("vmax").value !== "" ? Number($("vmax").value) : db ? 0 : top || 1;
    return scaleOf({palette: $("palette").value, db, reference, min, max});
  }

  // What the C-scan shows: amplitude, time of flight or depth.
  function cscanKind() {
    const kind = $("kind").value;
    const c = state.cscan;
    if (kind === "amplitude") return {value: c.values.amplitude, scale: amplitudeScale(), name: "amplitude"};
    const n = c.values.position.length;
    const value = new Float32Array(n);
    const velocity = Number($("velocity").value) || 0;
    const a = state.data.axes.sample;
    let lo = Infinity;
    let hi = -Infinity;
    for (let i = 0; i < n; ++i) {
      const t = a.start + c.values.position[i] * a.step;
      const v = kind === "depth" ? (t * velocity) / 2 : t;
      // A point with data where the gate detected nothing: -Infinity, drawn as such.
      value[i] = Number.isNaN(v) && !Number.isNaN(c.values.amplitude[i]) ? -Infinity : v;
      if (v < lo) lo = v;
      if (v > hi) hi = v;
    }
    const min = $("vmin").value !== "" && $("scale").value !== "db" ? Number($("vmin").value) : lo;
    const max = $("vmax").value !== "" && $("scale").value !== "db" ? Number($("vmax").value) : hi;
    return {value, scale: scaleOf({palette: $("palette").value, db: false, min, max}), name: kind};
  }

  const describePoint = (s, f) => `[${s}, ${f}] at (${fmt(coord("second", s))}, ${fmt(coord("first", f))})`;

  const views = {};

  // Linked zoom: the views that share an axis show the same range of it.
  // Each view's window is in index units; a link names, per view, the
  // window fields that hold that axis.
  const LINKS = [
    [["cscan", "x"], ["bscan-first", "x"]], // the first axis
    [["cscan", "y"], ["bscan-second", "x"]], // the second axis
    [["bscan-first", "y"], ["bscan-second", "y"], ["ascan", "x"]], // the sample axis
  ];

  // The views that follow are drawn in the next frame, once however many
  // wheel steps came meanwhile: the view under the mouse is drawn at once.
  const behind = new Set();
  let frame = 0;

  function follow(from, win) {
    for (const link of LINKS) {
      const source = link.find(([id]) => id === from);
      if (!source) continue;
      const [lo, hi] = [win[`${source[1]}0`], win[`${source[1]}1`]];
      for (const [id, axis] of link) {
        const v = views[id];
        if (id === from || !v.window || v.error) continue;
        Object.assign(v.window, {[`${axis}0`]: lo, [`${axis}1`]: hi});
        behind.add(v);
      }
    }
    if (!frame && behind.size) {
      frame = requestAnimationFrame(() => {
        frame = 0;
        for (const v of behind) if (v.window && !v.error) v.draw();
        behind.clear();
      });
    }
  }

  function makeViews() {
    views.cscan = new ImageView($("cscan"), {
      onWindow: (win) => follow("cscan", win),
      onPick: ({s, f}) => selectPoint(s, f),
      onHover: (text) => { $("cscan-readout").textContent = text; },
      onKey: (key) => stepPoint(key === "ArrowLeft" ? [0, -1] : key === "ArrowRight" ? [0, 1]
        : key === "ArrowUp" ? [1, 0] : [-1, 0]),
      describe: ({s, f}, at) => {
        const c = state.cscan;
        const a = c.values.amplitude[at];
        const p = c.values.position[at];
        if (Number.isNaN(a)) return `${describePoint(s, f)}: no data`;
        const tof = Number.isNaN(p) ? "no detection" : `time of flight ${fmt(coord("sample", p))} (sample ${p})`;
        const v = Number($("velocity").value);
        const depth = !Number.isNaN(p) && v ? `, depth ${fmt((coord("sample", p) * v) / 2)}` : "";
        return `${describePoint(s, f)}: amplitude ${fmt(a)}, ${tof}${depth}`;
      },
    });
    views.cscan.overlay = (ctx, v) => {
      if (!$("marks").checked) return; // the cursors hide the points beneath them
      const mark = (point, colour, square) => {
        if (!point) return;
        const at = v.canvasAt(point[1], point[0]);
        const k = v.ratio;
        ctx.strokeStyle = colour;
        ctx.lineWidth = 2 * k;
        ctx.beginPath();
        if (square) ctx.rect(at.x - 6 * k, at.y - 6 * k, 12 * k, 12 * k);
        else ctx.arc(at.x, at.y, 6 * k, 0, 2 * Math.PI);
        ctx.stroke();
      };
      mark(state.reference, "#0cf", true);
      mark(state.point, "#f33", false);
    };
    for (const along of ["first", "second"]) {
      const id = `bscan-${along}`;
      const view = new ImageView($(id), {
        onWindow: (win) => follow(id, win),
        onPick: ({i}) => (along === "first" ? selectPoint(state.point[0], i) : selectPoint(i, state.point[1])),
        onHover: (text) => { $(`${id}-readout`).textContent = text; },
        onKey: (key) => stepPoint(along === "first" ? [0, key === "ArrowLeft" ? -1 : key === "ArrowRight" ? 1 : 0]
          : [key === "ArrowLeft" ? -1 : key === "ArrowRight" ? 1 : 0, 0]),
        describe: ({i, k}, at) => {
          const [s, f] = along === "first" ? [state.lines.first, i] : [i, state.lines.second];
          const raw = state.lines[`${along}-raw`];
          const value = Number.isNaN(view.data.value[at]) ? "no data" : `value ${fmt(raw[at])}`;
          return `${describePoint(s, f)}, sample ${k} at ${fmt(coord("sample", k))}: ${value}`;
        },
      });
      view.toScale = false;
      view.overlay = (ctx, v) => drawGatesOnLine(ctx, v, along);
      views[id] = view;
    }
    views.ascan = new LineView($("ascan"), {
      onWindow: (win) => follow("ascan", win),
      onPick: () => {},
      onHover: (text) => { $("ascan-readout").textContent = text; },
      onKey: () => {},
      describe: (i, value) => `sample ${i} at ${fmt(coord("sample", i))}: ${fmt(value)}`,
    });
    views.ascan.overlay = drawGatesOnAscan;
    state.views = views;
  }

  // The gate (and the second one) across a B-scan: rows of samples.
  function drawGatesOnLine(ctx, v, along) {
    if (!state.data) return;
    const g = gates();
    const k = v.ratio;
    const y = (sample) => v.canvasAt(0, sample).y - (v.lastRect.h / (v.window.y1 - v.window.y0)) / 2;
    ctx.lineWidth = k;
    ctx.strokeStyle = "#ff8c00";
    for (const sample of [g.start, g.start + g.width]) {
      ctx.beginPath();
      ctx.moveTo(v.lastRect.x, y(sample));
      ctx.lineTo(v.lastRect.x + v.lastRect.w, y(sample));
      ctx.stroke();
    }
    const c = state.cscan;
    if (g.gate2 && c && c.values.position1) { // starts from each point's detection
      const [offset, width] = g.gate2.split(":").map(Number);
      const nf = state.data.shape[1];
      const count = along === "first" ? nf : state.data.shape[0];
      ctx.strokeStyle = "#e040fb";
      for (const extra of [0, width]) {
        ctx.beginPath();
        for (let i = 0; i < count; ++i) {
          const at = along === "first" ? state.lines.first * nf + i : i * nf + state.lines.second;
          const p = c.values.position1[at];
          if (Number.isNaN(p)) continue;
          const x0 = v.canvasAt(i, 0).x;
          const half = v.lastRect.w / (v.window.x1 - v.window.x0) / 2;
          ctx.moveTo(x0 - half, y(p + offset + extra));
          ctx.lineTo(x0 + half, y(p + offset + extra));
        }
        ctx.stroke();
      }
    }
    const p = state.point;
    if (p) { // the point's line
      const i = along === "first" ? p[1] : p[0];
      const x = v.canvasAt(i, 0).x;
      ctx.strokeStyle = "#fff";
      ctx.setLineDash([4 * k, 3 * k]);
      ctx.beginPath();
      ctx.moveTo(x, v.lastRect.y);
      ctx.lineTo(x, v.lastRect.y + v.lastRect.h);
      ctx.stroke();
      ctx.setLineDash([]);
    }
  }

  // The gates on the A-scan: a band at the threshold's height, and each
  // detection marked.
  function drawGatesOnAscan(ctx, v) {
    const a = state.ascan;
    if (!a) return;
    const g = gates();
    const k = v.ratio;
    const band = (start, width, level, colour) => {
      const x0 = v.xPx(start - 0.5);
      const x1 = v.xPx(start + width - 0.5);
      ctx.fillStyle = colour;
      ctx.globalAlpha = 0.18;
      ctx.fillRect(x0, v.rect().y, x1 - x0, v.rect().h);
      ctx.globalAlpha = 1;
      ctx.strokeStyle = colour;
      ctx.lineWidth = 2 * k;
      for (const y of level > 0 ? [level, -level] : []) {
        ctx.beginPath();
        ctx.moveTo(x0, v.yPx(y));
        ctx.lineTo(x1, v.yPx(y));
        ctx.stroke();
      }
    };
    const detected = (m, colour) => {
      if (!m || m.position === null) return;
      const x = v.xPx(m.position);
      ctx.strokeStyle = colour;
      ctx.lineWidth = 2 * k;
      ctx.beginPath();
      ctx.moveTo(x, v.rect().y);
      ctx.lineTo(x, v.rect().y + v.rect().h);
      ctx.stroke();
    };
    band(g.start, g.width, g.detect === "threshold" ? Number(g.threshold) : 0, "#ff8c00");
    detected(a.gates[0], "#ff8c00");
    if (g.gate2 && a.gates[0].position !== null) {
      const [offset, width] = g.gate2.split(":").map(Number);
      band(a.gates[0].position + offset, width, g.detect2 === "threshold" ? Number(g.threshold2) : 0, "#e040fb");
      detected(a.gates[1], "#e040fb");
    }
  }

  // Gate 1 in coordinates of the sample axis, beside its samples.
  function showGateCoords() {
    const g = gates();
    $("gate-start-at").value = fmt(coord("sample", g.start));
    $("gate-width-at").value = fmt(g.width * state.data.axes.sample.step);
  }

  // Gate 1 typed in coordinates: the samples whose coordinates it holds.
  function gateFromCoords() {
    const a = state.data.axes.sample;
    const start = Math.round((Number($("gate-start-at").value) - a.start) / a.step);
    const width = Math.max(1, Math.round(Number($("gate-width-at").value) / a.step));
    $("gate-start").value = start;
    $("gate-width").value = width;
    setGate();
  }

  async function showData(d, restoring) {
    const axes = ["second", "first", "sample"].map((name) => {
      const a = d.axes[name];
      return `${name} axis ${a.count} from ${fmt(a.start)} to ${fmt(a.end)}`;
    });
    $("data-facts").textContent = `Data class ${d.class}, ${d.shape.join(" x ")} ${d.type}; ${axes.join(", ")}.` +
      (d.scans ? "" : " Variable records: no scans.");
    if (!d.scans || d.shape[0] * d.shape[1] * d.shape[2] === 0) return;
    state.data = d;
    state.lines = {};
    state.errors = {};
    const n = d.shape[2];
    const [a, b] = (restoring.gate || `0:${n}`).split(":").map(Number);
    $("gate-start").max = n - 1;
    $("gate-width").max = n;
    $("gate-start").value = a;
    $("gate-width").value = b - a;
    for (const [id, dflt] of [["detect", "peak"], ["threshold", ""], ["detect2", "peak"], ["threshold2", ""],
                              ["kind", "amplitude"], ["velocity", ""], ["palette", "viridis"], ["scale", "linear"],
                              ["vmin", ""], ["vmax", ""], ["reference", ""]]) {
      $(id).value = restoring[id] !== undefined ? restoring[id] : dflt;
    }
    $("envelope").checked = restoring.envelope === "1";
    $("gate2-on").checked = !!restoring.gate2;
    const [o2, w2] = (restoring.gate2 || `10:${Math.max(1, Math.floor(n / 8))}`).split(":");
    $("gate2-start").value = o2;
    $("gate2-width").value = w2;
    $("to-scale").checked = restoring.fill !== "1";
    views.cscan.toScale = $("to-scale").checked;
    views.cscan.window = null;
    views.ascan.window = null;
    views["bscan-first"].window = null;
    views["bscan-second"].window = null;
    showGateCoords();
    $("data").hidden = false;
    const point = restoring.point ? restoring.point.split(",").map(Number)
      : [Math.floor(d.shape[0] / 2), Math.floor(d.shape[1] / 2)];
    const t0 = performance.now();
    await Promise.all([drawCscan(), selectPoint(point[0], point[1], true)]);
    if (restoring.zoom) {
      const [x0, x1, y0, y1] = restoring.zoom.split(",").map(Number);
      if ([x0, x1, y0, y1].every(Number.isFinite) && x1 > x0 && y1 > y0) {
        views.cscan.window = {x0, x1, y0, y1};
        views.cscan.draw();
      }
    }
    timing("data group", t0);
  }

  const selection = () => ({file: state.file, group: state.group});

  function failed(id, error) {
    state.errors[id] = error.message;
    views[id].fail(error.message);
  }

  function paintCscan(keepWindow) {
    const c = state.cscan;
    const kind = cscanKind();
    const nf = state.data.shape[1];
    views.cscan.set({nx: nf, ny: state.data.shape[0], sx: 1, sy: nf, key: c.values.amplitude,
                     value: kind.value, point: (at) => ({s: Math.floor(at / nf), f: at % nf})},
                    {x: axisOf("first"), y: {...axisOf("second"), yUp: true}, yUp: true}, kind.scale, keepWindow);
  }

  async function drawCscan() {
    try {
      const c = await api("cscan", {...selection(), ...gateParams()}, "cscan");
      state.errors.cscan = null;
      state.cscan = c;
      paintCscan(true);
      paintLines();
    } catch (e) {
      if (!(e instanceof Stale)) {
        state.cscan = null; // nor is another gate's C-scan drawn, measured or followed in its place
        failed("cscan", e);
      }
    }
  }

  async function drawAscan() {
    try {
      const a = await api("point", {...selection(), point: state.point.join(","), ...gateParams()}, "ascan");
      state.errors.ascan = null;
      const values = Array.from(a.values.samples);
      state.ascan = {point: a.point, has_data: a.has_data, values: a.has_data ? values : null, gates: a.gates};
      const [s, f] = a.point;
      const g = a.gates.map((m, i) => `gate ${i + 1}: ` + (m.amplitude === null ? "nothing"
        : `amplitude ${fmt(m.amplitude)}` + (m.position === null ? ", no detection"
          : `, at ${fmt(coord("sample", m.position))} (sample ${m.position})`)));
      $("point-info").textContent = `A-scan of ${describePoint(s, f)}: ` +
        (a.has_data ? g.join("; ") : "no data at this point");
      if (a.has_data) views.ascan.set(values, axisOf("sample"), "value", true, a.values.envelope);
      else views.ascan.fail("no data at this point");
      measure();
    } catch (e) {
      if (!(e instanceof Stale)) {
        state.ascan = null; // no other point's A-scan stands for this one
        failed("ascan", e);
      }
    }
  }

  function paintLine(along) {
    const line = state.lines[`${along}-answer`];
    if (!line) return;
    const ns = state.data.shape[2];
    const count = line.values.has.length;
    const view = views[`bscan-${along}`];
    const shownScale = amplitudeScale();
    view.set({nx: count, ny: ns, sx: ns, sy: 1, key: line.magnitude, value: line.magnitude,
              point: (at) => ({i: Math.floor(at / ns), k: at % ns})},
             {x: axisOf(along), y: axisOf("sample"), yUp: false}, shownScale, true);
  }

  function paintLines() {
    paintLine("first");
    paintLine("second");
  }

  // A B-scan is read again only when the point leaves its line.
  async function drawLine(along) {
    const id = `bscan-${along}`;
    const line = state.point[along === "first" ? 0 : 1];
    if (state.lines[along] === line && state.lines.envelope === gates().envelope) {
      paintLine(along);
      return;
    }
    try {
      const params = {...selection(), along, line};
      if (gates().envelope) params.envelope = "1";
      const answer = await api("line", params, id);
      state.errors[id] = null;
      const raw = answer.values.samples;
      const magnitude = new Float32Array(raw.length);
      const ns = state.data.shape[2];
      const has = answer.values.has;
      for (let p = 0, o = 0; p < has.length; ++p, o += ns) {
        if (!has[p]) magnitude.fill(NaN, o, o + ns);
        else for (let k = o; k < o + ns; ++k) magnitude[k] = Math.abs(raw[k]);
      }
      answer.magnitude = magnitude;
      state.lines[along] = line;
      state.lines.envelope = gates().envelope;
      state.lines[`${along}-raw`] = raw;
      state.lines[`${along}-answer`] = answer;
      paintLine(along);
    } catch (e) {
      if (!(e instanceof Stale)) {
        for (const key of [along, `${along}-raw`, `${along}-answer`]) delete state.lines[key]; // no other line's
        failed(id, e);
      }
    }
  }

  async function selectPoint(s, f, quiet) {
    const t0 = performance.now();
    const [ns, nf] = state.data.shape;
    state.point = [Math.min(Math.max(s, 0), ns - 1), Math.min(Math.max(f, 0), nf - 1)];
    if (views.cscan.data) views.cscan.draw();
    const n = (seq.point = (seq.point || 0) + 1);
    await Promise.all([drawAscan(), drawLine("first"), drawLine("second")]);
    if (n !== seq.point) return; // a newer click is being drawn
    remember();
    if (!quiet) timing("point", t0);
  }

  function stepPoint([ds, df]) {
    if (state.point) selectPoint(state.point[0] + ds, state.point[1] + df);
  }

  // The reference cursor and the distance from it to the point.
  function measure() {
    const r = state.reference;
    const p = state.point;
    if (!r || !p) {
      $("measure").textContent = "";
      return;
    }
    const c = state.cscan;
    const nf = state.data.shape[1];
    const tof = (q) => (c ? c.values.position[q[0] * nf + q[1]] : NaN);
    const dt = tof(p) - tof(r);
    $("measure").textContent = `reference ${describePoint(...r)}, point ${describePoint(...p)}: ` +
      `distance ${fmt(coord("second", p[0]) - coord("second", r[0]))} along the second axis, ` +
      `${fmt(coord("first", p[1]) - coord("first", r[1]))} along the first` +
      (Number.isNaN(dt) ? "" : `, ${fmt(dt * state.data.axes.sample.step)} in time of flight (${dt} samples)`);
  }

  async function setGate() {
    const n = state.data.shape[2];
    const g = gates();
    if (!(Number.isInteger(g.start) && Number.isInteger(g.width) && g.start >= 0 && g.width >= 1 &&
          g.start + g.width <= n)) {
      status(`a gate is a range of samples: it starts at 0 to ${n - 1}, and its width keeps it within the ${n}`, true);
      return;
    }
    const t0 = performance.now();
    showGateCoords();
    remember();
    await Promise.all([drawCscan(), drawAscan(), drawLine("first"), drawLine("second")]);
    timing("gate", t0);
  }

  // Dragging across the A-scan with Alt held sets the gate.
  function gateDrag() {
    const c = $("ascan");
    let from = null;
    c.addEventListener("mousedown", (e) => {
      if (!e.altKey || !state.ascan || !views.ascan.values) return;
      e.stopImmediatePropagation();
      from = views.ascan.at(e).x;
    }, true);
    window.addEventListener("mouseup", (e) => {
      if (from === null) return;
      const to = views.ascan.at(e).x;
      const [a, b] = [from, to].sort((x, y) => x - y).map(Math.floor);
      from = null;
      const n = state.data.shape[2];
      if (b <= a) return;
      $("gate-start").value = Math.max(0, a);
      $("gate-width").value = Math.min(n, b + 1) - Math.max(0, a);
      setGate();
    });
  }

  // --- export ---

  function download(name, blob) {
    const a = el("a");
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  }

  function exported(kind) {
    const v = views.cscan;
    if (!v.data) return;
    const name = `${String(state.group).replace(/[^\w.-]+/g, "_")}-${$("kind").value}`;
    if (kind === "png") {
      v.canvas.toBlob((blob) => download(`${name}.png`, blob));
      return;
    }
    const {rows} = v.visible();
    if (kind === "csv") {
      download(`${name}.csv`, new Blob([rows.map((r) => r.map((x) => (Number.isNaN(x) ? "" : x)).join(",")).join("\n")
        + "\n"], {type: "text/csv"}));
      return;
    }
    // .npy: float32, rows as shown (top to bottom), NaN without data.
    const shape = `(${rows.length}, ${rows.length ? rows[0].length : 0})`;
    let header = `{'descr': '<f4', 'fortran_order': False, 'shape': ${shape}, }`;
    header += " ".repeat(63 - ((10 + header.length) % 64)) + "\n";
    const head = new Uint8Array(10 + header.length);
    head.set([0x93, 0x4e, 0x55, 0x4d, 0x50, 0x59, 1, 0, header.length & 255, header.length >> 8]);
    head.set(new TextEncoder().encode(header), 10);
    download(`${name}.npy`, new Blob([head, Float32Array.from(rows.flat())]));
  }

  function start() {
    makeViews();
    gateDrag();
    for (const id of ["gate-start", "gate-width", "detect", "threshold", "gate2-on", "gate2-start", "gate2-width",
                      "detect2", "threshold2", "envelope"]) {
      $(id).addEventListener("change", setGate);
    }
    for (const id of ["gate-start-at", "gate-width-at"]) $(id).addEventListener("change", gateFromCoords);
    for (const id of ["kind", "velocity", "palette", "scale", "vmin", "vmax", "reference"]) {
      $(id).addEventListener("change", () => {
        if (!state.cscan) return;
        const t0 = performance.now();
        paintCscan(true);
        paintLines();
        remember();
        timing("colour scale", t0);
      });
    }
    // A link pasted into the open page's address, or the address edited,
    // shows its view (the page's own updates of the address fire nothing).
    window.addEventListener("hashchange", () => {
      const wanted = Object.fromEntries(new URLSearchParams(location.hash.slice(1)));
      if (wanted.file !== undefined && wanted.group !== undefined) {
        selectGroup(Number(wanted.file), wanted.group, undefined, wanted);
      }
    });
    $("marks").addEventListener("change", () => views.cscan.draw());
    $("to-scale").addEventListener("change", () => {
      views.cscan.toScale = $("to-scale").checked;
      views.cscan.draw();
      remember();
    });
    $("reset").addEventListener("click", () => {
      for (const v of Object.values(views)) v.reset();
      remember();
    });
    $("set-reference").addEventListener("click", () => {
      state.reference = state.point && [...state.point];
      views.cscan.draw();
      measure();
    });
    for (const kind of ["png", "csv", "npy"]) $(`export-${kind}`).addEventListener("click", () => exported(kind));
    window.addEventListener("resize", () => Object.values(views).forEach((v) => v.draw()));
    $("cscan").addEventListener("wheel", () => setTimeout(remember, 0));
    $("module").addEventListener("change", () => selectGroup(state.file, state.group, $("module").value));
    if (!token) status("this page needs the address that 'python3 -m velfile view' printed (it holds the token)", true);
    loadFiles().catch((e) => status(e.message, true));
  }

  start();
})();
