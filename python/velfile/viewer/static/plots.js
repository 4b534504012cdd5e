// The viewer's drawing: images of values (C- and B-scans) and line plots
// (A-scans) on a 2-D canvas, at the data's own resolution. Where points
// outnumber the pixels, a pixel shows the point of the largest key among
// those it covers (for an amplitude map, the largest amplitude), so that no
// point is ever lost; where a point gets a pixel or more it is drawn whole.
// Each view zooms (wheel, shift-drag a box), pans (drag), resets
// (double-click), reports the cursor and picks the point shown under a click.
"use strict";
window.velfilePlots = (() => {
  const VIRIDIS = "44015444025645045745055946075a46085c460a5d460b5e470d60470e6147106347116447136548146748166848176948" +
    "186a481a6c481b6d481c6e481d6f481f70482071482173482374482475482576482677482878482979472a7a472c7a472d7b472e7c472f" +
    "7d46307e46327e46337f463480453581453781453882443983443a83443b84433d84433e85423f854240864241864142874144874045" +
    "884046883f47883f48893e49893e4a893e4c8a3d4d8a3d4e8a3c4f8a3c508b3b518b3b528b3a538b3a548c39558c39568c38588c3859" +
    "8c375a8c375b8d365c8d365d8d355e8d355f8d34608d34618d33628d33638d32648e32658e31668e31678e31688e30698e306a8e2f6b" +
    "8e2f6c8e2e6d8e2e6e8e2e6f8e2d708e2d718e2c718e2c728e2c738e2b748e2b758e2a768e2a778e2a788e29798e297a8e297b8e287c" +
    "8e287d8e277e8e277f8e27808e26818e26828e26828e25838e25848e25858e24868e24878e23888e23898e238a8d228b8d228c8d228d" +
    "8d218e8d218f8d21908d21918c20928c20928c20938c1f948c1f958b1f968b1f978b1f988b1f998a1f9a8a1e9b8a1e9c891e9d891f9e" +
    "891f9f881fa0881fa1881fa1871fa28720a38620a48621a58521a68522a78522a88423a98324aa8325ab8225ac8226ad8127ad8128ae" +
    "8029af7f2ab07f2cb17e2db27d2eb37c2fb47c31b57b32b67a34b67935b77937b87838b9773aba763bbb753dbc743fbc7340bd7242be" +
    "7144bf7046c06f48c16e4ac16d4cc26c4ec36b50c46a52c56954c56856c66758c7655ac8645cc8635ec96260ca6063cb5f65cb5e67cc" +
    "5c69cd5b6ccd5a6ece5870cf5773d05675d05477d1537ad1517cd2507fd34e81d34d84d44b86d54989d5488bd6468ed64590d74393d7" +
    "4195d84098d83e9bd93c9dd93ba0da39a2da37a5db36a8db34aadc32addc30b0dd2fb2dd2db5de2bb8de29bade28bddf26c0df25c2df" +
    "23c5e021c8e020cae11fcde11dd0e11cd2e21bd5e21ad8e219dae319dde318dfe318e2e418e5e419e7e419eae51aece51befe51cf1e5" +
    "1df4e61ef6e620f8e621fbe723fde725";
  const rgba = (r, g, b) => (255 << 24) | (b << 16) | (g << 8) | r; // little-endian ImageData words
  const PALETTES = {
    viridis: Uint32Array.from({length: 256}, (_, i) =>
      rgba(...[0, 2, 4].map((k) => parseInt(VIRIDIS.substr(6 * i + k, 2), 16)))),
    grey: Uint32Array.from({length: 256}, (_, i) => rgba(i, i, i)),
  };
  const NO_DATA = rgba(0xd0, 0xd0, 0xd0);
  const NOTHING_DETECTED = rgba(0x70, 0x70, 0x70); // a value of -Infinity
  const BACKGROUND = rgba(0xff, 0xff, 0xff);
  const MARGIN = {left: 58, right: 10, top: 8, bottom: 34};

  const fmt = (x) => (typeof x === "number" && Number.isFinite(x) ? String(Number(x.toPrecision(6))) : String(x));
  // A tick's label, short enough for the margin.
  const tick = (x) => (Math.abs(x) >= 1e5 ? x.toExponential(2).replace("e+", "e") : fmt(x));

  // A colour scale: value -> palette index; dB relative to reference.
  function scaleOf(opts) {
    const lut = PALETTES[opts.palette] || PALETTES.viridis;
    let {min, max} = opts;
    const db = opts.db && opts.reference > 0;
    const map = db ? (v) => 20 * Math.log10(Math.abs(v) / opts.reference) : (v) => v;
    if (!(max > min)) max = min + 1;
    const k = 255 / (max - min);
    return {lut, map, min, max, key: `${opts.palette} ${db} ${opts.reference} ${min} ${max}`, colour(v) {
      if (Number.isNaN(v)) return NO_DATA;
      if (v === -Infinity && !db) return NOTHING_DETECTED;
      const t = Math.round((map(v) - min) * k);
      return lut[t < 0 || Number.isNaN(t) ? 0 : t > 255 ? 255 : t];
    }};
  }

  // Nice ticks for the range [a, b].
  function ticks(a, b, count) {
    const lo = Math.min(a, b);
    const hi = Math.max(a, b);
    const span = hi - lo || 1;
    const raw = span / Math.max(count, 1);
    const mag = 10 ** Math.floor(Math.log10(raw));
    const step = [1, 2, 5, 10].map((m) => m * mag).find((s) => s >= raw);
    const out = [];
    for (let t = Math.ceil(lo / step) * step; t <= hi + step * 1e-9; t += step) out.push(Number(t.toPrecision(12)));
    return out;
  }

  // What every view shares: the canvas, its plot rectangle, the window into
  // the data (in index units: point i spans [i, i + 1)), and the mouse.
  class View {
    constructor(canvas, options) {
      this.canvas = canvas;
      this.ctx = canvas.getContext("2d");
      this.options = options; // {onPick(ix, iy, event), onHover(text), onKey(key)}
      this.window = null;
      this.full = null;
      this.error = null;
      this.drawMs = 0;
      this.attach();
    }

    size() {
      const ratio = window.devicePixelRatio || 1;
      const w = Math.max(50, Math.round(this.canvas.clientWidth * ratio));
      const h = Math.max(50, Math.round(this.canvas.clientHeight * ratio));
      if (this.canvas.width !== w || this.canvas.height !== h) {
        this.canvas.width = w;
        this.canvas.height = h;
      }
      this.ratio = ratio;
      return {w, h};
    }

    // The plot rectangle in canvas pixels, for the current window.
    rect() {
      const {w, h} = this.size();
      const m = MARGIN;
      const r = this.ratio;
      return {x: m.left * r, y: m.top * r, w: Math.max(1, w - (m.left + m.right) * r),
              h: Math.max(1, h - (m.top + m.bottom) * r)};
    }

    // The canvas, sized and cleared: its width and height.
    blank() {
      const {w, h} = this.size();
      this.ctx.setTransform(1, 0, 0, 1, 0, 0);
      this.ctx.fillStyle = "#fff";
      this.ctx.fillRect(0, 0, w, h);
      return {w, h};
    }

    fail(message) {
      this.error = message;
      const {w} = this.blank();
      this.ctx.fillStyle = "#b00";
      this.ctx.font = `${13 * this.ratio}px sans-serif`;
      const words = String(message).split(" ");
      let line = "";
      let y = 24 * this.ratio;
      for (const word of words) { // the error, wrapped to the canvas
        if (this.ctx.measureText(`${line} ${word}`).width > w - 20 && line) {
          this.ctx.fillText(line, 10, y);
          y += 17 * this.ratio;
          line = word;
        } else line = line ? `${line} ${word}` : word;
      }
      this.ctx.fillText(line, 10, y);
    }

    // Canvas pixels -> CSS pixels (the canvas is stretched to its box).
    css(p) {
      const box = this.canvas.getBoundingClientRect();
      return {x: (p.x * box.width) / this.canvas.width, y: (p.y * box.height) / this.canvas.height};
    }

    // Canvas pixel (from a mouse event) -> data index coordinates (continuous).
    at(event) {
      const box = this.canvas.getBoundingClientRect();
      const px = (event.clientX - box.left) * (this.canvas.width / box.width);
      const py = (event.clientY - box.top) * (this.canvas.height / box.height);
      return {px, py, ...this.toData(px, py)};
    }

    reset() {
      if (!this.full) return;
      this.window = {...this.full};
      this.draw();
      this.moved();
    }

    // The user moved the window: the views that share an axis follow.
    moved() {
      if (this.options.onWindow && this.window) this.options.onWindow(this.window);
    }

    zoom(factor, cx, cy) {
      const win = this.window;
      const scale = (lo, hi, c, limit) => {
        const nlo = c - (c - lo) * factor;
        const nhi = c + (hi - c) * factor;
        return nhi - nlo < limit ? [lo, hi] : [nlo, nhi];
      };
      [win.x0, win.x1] = scale(win.x0, win.x1, cx, this.minSpan.x);
      if (this.zoomsY) [win.y0, win.y1] = scale(win.y0, win.y1, cy, this.minSpan.y);
      this.draw();
      this.moved();
    }

    attach() {
      const c = this.canvas;
      let down = null;
      c.addEventListener("wheel", (e) => {
        if (!this.window || this.error) return;
        e.preventDefault();
        const p = this.at(e);
        this.zoom(e.deltaY < 0 ? 1 / 1.25 : 1.25, p.x, p.y);
      }, {passive: false});
      c.addEventListener("mousedown", (e) => {
        if (!this.window || e.button !== 0) return;
        e.preventDefault();
        c.focus();
        down = {e, p: this.at(e), win: {...this.window}, box: e.shiftKey};
      });
      window.addEventListener("mousemove", (e) => {
        if (down) {
          const moved = Math.hypot(e.clientX - down.e.clientX, e.clientY - down.e.clientY);
          if (moved < 4 && !down.moved) return;
          down.moved = true;
          const p = this.at(e);
          if (down.box) {
            this.draw();
            this.ctx.strokeStyle = "#f33";
            this.ctx.lineWidth = this.ratio;
            this.ctx.strokeRect(down.p.px, down.p.py, p.px - down.p.px, p.py - down.p.py);
          } else {
            const q = this.toDataIn(down.win, p.px, p.py);
            const dx = down.p.x - q.x;
            const dy = this.zoomsY ? down.p.y - q.y : 0;
            Object.assign(this.window, {x0: down.win.x0 + dx, x1: down.win.x1 + dx, y0: down.win.y0 + dy,
                                        y1: down.win.y1 + dy});
            this.draw();
            this.moved();
          }
        } else if (e.target === c && this.window && !this.error) {
          this.options.onHover(this.readout(this.at(e)));
        }
      });
      window.addEventListener("mouseup", (e) => {
        if (!down) return;
        const start = down;
        down = null;
        if (!start.moved) {
          const pick = this.pick(this.at(e));
          if (pick) this.options.onPick(pick, e);
        } else if (start.box) {
          const p = this.at(e);
          const [x0, x1] = [start.p.x, p.x].sort((a, b) => a - b);
          const [y0, y1] = [start.p.y, p.y].sort((a, b) => a - b);
          if (x1 - x0 > this.minSpan.x) Object.assign(this.window, {x0, x1});
          if (this.zoomsY && y1 - y0 > this.minSpan.y) Object.assign(this.window, {y0, y1});
          this.draw();
          this.moved();
        }
      });
      c.addEventListener("mouseleave", () => this.options.onHover(""));
      c.addEventListener("dblclick", () => this.reset());
      c.addEventListener("keydown", (e) => {
        if (["ArrowLeft", "ArrowRight", "ArrowUp", "ArrowDown"].includes(e.key)) {
          e.preventDefault();
          this.options.onKey(e.key);
        }
      });
    }

    // Axes: the frame, ticks and labels in coordinates.
    axes(r, xs, ys, xName, yName) {
      const ctx = this.ctx;
      const k = this.ratio;
      ctx.strokeStyle = "#444";
      ctx.lineWidth = k;
      ctx.strokeRect(r.x - 0.5, r.y - 0.5, r.w + 1, r.h + 1);
      ctx.fillStyle = "#222";
      ctx.font = `${11 * k}px sans-serif`;
      ctx.textAlign = "center";
      ctx.textBaseline = "top";
      for (const t of ticks(xs.c0, xs.c1, Math.max(2, r.w / (70 * k)))) {
        const px = xs.toPx(t);
        if (px < r.x - 1 || px > r.x + r.w + 1) continue;
        ctx.fillRect(px, r.y + r.h, k, 4 * k);
        ctx.fillText(tick(t), px, r.y + r.h + 6 * k);
      }
      ctx.fillText(xName, r.x + r.w / 2, r.y + r.h + 19 * k);
      ctx.textAlign = "right";
      ctx.textBaseline = "middle";
      for (const t of ticks(ys.c0, ys.c1, Math.max(2, r.h / (40 * k)))) {
        const py = ys.toPx(t);
        if (py < r.y - 1 || py > r.y + r.h + 1) continue;
        ctx.fillRect(r.x - 4 * k, py, 4 * k, k);
        ctx.fillText(tick(t), r.x - 6 * k, py);
      }
      ctx.save();
      ctx.translate(11 * k, r.y + r.h / 2);
      ctx.rotate(-Math.PI / 2);
      ctx.textAlign = "center";
      ctx.fillText(yName, 0, 0);
      ctx.restore();
    }
  }

  // An image of nx x ny points: value(ix, iy) drawn through a colour scale,
  // key(ix, iy) choosing the point a crowded pixel shows. x runs right; y up
  // (yUp) or down. axes: {x: {start, step, name}, y: {...}}.
  class ImageView extends View {
    constructor(canvas, options) {
      super(canvas, options);
      this.zoomsY = true;
      this.toScale = true;
      this.minSpan = {x: 1, y: 1};
      this.overlay = null; // (ctx, view) after the image
    }

    // data: {nx, ny, sx, sy (point (ix, iy) lies at ix * sx + iy * sy), key and value: Float32Arrays,
    //        point(offset) -> what a pick reports}
    set(data, axes, scale, keepWindow) {
      this.error = null;
      this.data = data;
      this.axesInfo = axes;
      this.scale = scale;
      this.full = {x0: 0, x1: data.nx, y0: 0, y1: data.ny};
      if (!keepWindow || !this.window) this.window = {...this.full};
      this.draw();
    }

    // The image's rectangle in canvas pixels: to scale (same length per
    // coordinate unit on both axes), or filling the plot rectangle.
    imageRect() {
      const r = this.rect();
      if (!this.toScale) return r;
      const win = this.window;
      const wx = (win.x1 - win.x0) * Math.abs(this.axesInfo.x.step || 1);
      const wy = (win.y1 - win.y0) * Math.abs(this.axesInfo.y.step || 1);
      const k = Math.min(r.w / wx, r.h / wy);
      const w = Math.max(1, Math.round(wx * k));
      const h = Math.max(1, Math.round(wy * k));
      return {x: r.x + Math.floor((r.w - w) / 2), y: r.y + Math.floor((r.h - h) / 2), w, h};
    }

    toDataIn(win, px, py) {
      const r = this.lastRect || this.imageRect();
      const x = win.x0 + ((px - r.x) / r.w) * (win.x1 - win.x0);
      const fy = (py - r.y) / r.h;
      const y = this.axesInfo.yUp ? win.y1 - fy * (win.y1 - win.y0) : win.y0 + fy * (win.y1 - win.y0);
      return {x, y};
    }

    toData(px, py) {
      return this.toDataIn(this.window, px, py);
    }

    // Where the centre of point (ix, iy) lies on the canvas, in CSS pixels
    // from its top left corner (as a mouse event's offset).
    where(ix, iy) {
      return this.css(this.canvasAt(ix, iy));
    }

    // The same in the canvas's own pixels.
    canvasAt(ix, iy) {
      const r = this.imageRect();
      const win = this.window;
      const px = r.x + ((ix + 0.5 - win.x0) / (win.x1 - win.x0)) * r.w;
      const fy = (iy + 0.5 - win.y0) / (win.y1 - win.y0);
      const py = this.axesInfo.yUp ? r.y + (1 - fy) * r.h : r.y + fy * r.h;
      return {x: px, y: py};
    }

    // For each pixel along one axis, the points it covers [first, last]:
    // the one under its centre where a point gets a pixel or more, else
    // every point that overlaps it. -1 outside the data.
    static spans(pixels, lo, hi, count) {
      const first = new Int32Array(pixels);
      const last = new Int32Array(pixels);
      const k = (hi - lo) / pixels;
      for (let p = 0; p < pixels; ++p) {
        let a;
        let b;
        if (k <= 1) {
          a = b = Math.floor(lo + (p + 0.5) * k);
        } else {
          a = Math.floor(lo + p * k);
          b = Math.ceil(lo + (p + 1) * k) - 1;
        }
        a = Math.max(a, 0);
        b = Math.min(b, count - 1);
        if (a > b) a = b = -1;
        first[p] = a;
        last[p] = b;
      }
      return {first, last};
    }

    draw() {
      if (!this.data || !this.window || this.error) return;
      const t0 = performance.now();
      this.blank();
      const ctx = this.ctx;
      const r = this.imageRect();
      this.lastRect = r;
      const win = this.window;
      // The image is computed again only when what it shows changed; the
      // overlays (cursors, gates) are drawn anew each time.
      const shows = [this.data.value, this.data.key, this.scale.key, win.x0, win.x1, win.y0, win.y1,
                     r.x, r.y, r.w, r.h];
      if (this.cache && shows.every((x, i) => x === this.cache.shows[i])) ctx.putImageData(this.cache.image, r.x, r.y);
      else this.cache = {shows, image: this.render(r, win)};
      this.finish(ctx, r, win);
      this.drawMs = performance.now() - t0;
    }

    // The image of the points in the window, into rectangle r.
    render(r, win) {
      const ctx = this.ctx;
      const {nx, ny, key, value, sx, sy} = this.data;
      const cols = ImageView.spans(r.w, win.x0, win.x1, nx);
      const rows = ImageView.spans(r.h, win.y0, win.y1, ny);
      const image = ctx.createImageData(r.w, r.h);
      const out = new Uint32Array(image.data.buffer);
      const picked = new Int32Array(r.w * r.h).fill(-1);
      // Pass 1: for every data row in view, the best point of each column.
      const y0 = Math.max(0, Math.floor(win.y0));
      const y1 = Math.min(ny - 1, Math.ceil(win.y1) - 1);
      const nrows = Math.max(0, y1 - y0 + 1);
      const bestKey = new Float32Array(nrows * r.w);
      const bestAt = new Int32Array(nrows * r.w);
      for (let j = 0; j < nrows; ++j) {
        for (let c = 0; c < r.w; ++c) {
          const a = cols.first[c];
          if (c > 0 && a === cols.first[c - 1] && cols.last[c] === cols.last[c - 1]) { // one point, several pixels
            bestKey[j * r.w + c] = bestKey[j * r.w + c - 1];
            bestAt[j * r.w + c] = bestAt[j * r.w + c - 1];
            continue;
          }
          let best = -Infinity;
          let at = -1;
          if (a >= 0) {
            for (let i = a, b = cols.last[c]; i <= b; ++i) {
              const o = i * sx + (j + y0) * sy;
              const v = key[o];
              const k = Number.isNaN(v) ? -Infinity : v; // a point without data shows only alone
              if (at < 0 || k > best) {
                best = k;
                at = o;
              }
            }
          }
          bestKey[j * r.w + c] = best;
          bestAt[j * r.w + c] = at;
        }
      }
      // Pass 2: every pixel row takes the best of the rows it covers.
      const scale = this.scale;
      for (let p = 0; p < r.h; ++p) {
        const row = this.axesInfo.yUp ? r.h - 1 - p : p;
        const a = rows.first[p];
        if (p > 0 && a === rows.first[p - 1] && rows.last[p] === rows.last[p - 1]) { // the pixel row before, again
          const before = (this.axesInfo.yUp ? row + 1 : row - 1) * r.w;
          out.copyWithin(row * r.w, before, before + r.w);
          picked.copyWithin(row * r.w, before, before + r.w);
          continue;
        }
        let shownAt = -2;
        let shown = BACKGROUND;
        for (let c = 0; c < r.w; ++c) {
          let at = -1;
          let best = -Infinity;
          if (a >= 0 && cols.first[c] >= 0) {
            for (let j = a, b = rows.last[p]; j <= b; ++j) {
              const q = (j - y0) * r.w + c;
              if (bestAt[q] >= 0 && (at < 0 || bestKey[q] > best)) {
                best = bestKey[q];
                at = bestAt[q];
              }
            }
          }
          if (at !== shownAt) {
            shownAt = at;
            shown = at < 0 ? BACKGROUND : scale.colour(value[at]);
          }
          out[row * r.w + c] = shown;
          picked[row * r.w + c] = at;
        }
      }
      ctx.putImageData(image, r.x, r.y);
      this.picked = picked;
      return image;
    }

    // The axes and the overlays, over the image.
    finish(ctx, r, win) {
      const ax = this.axesInfo;
      const coordOf = (a, i) => a.start + i * a.step;
      const xs = {c0: coordOf(ax.x, win.x0 - 0.5), c1: coordOf(ax.x, win.x1 - 0.5),
                  toPx: (c) => r.x + (((c - ax.x.start) / ax.x.step + 0.5 - win.x0) / (win.x1 - win.x0)) * r.w};
      const fy = (c) => ((c - ax.y.start) / ax.y.step + 0.5 - win.y0) / (win.y1 - win.y0);
      const ys = {c0: coordOf(ax.y, win.y0 - 0.5), c1: coordOf(ax.y, win.y1 - 0.5),
                  toPx: (c) => (ax.yUp ? r.y + (1 - fy(c)) * r.h : r.y + fy(c) * r.h)};
      this.axes(r, xs, ys, ax.x.name, ax.y.name);
      if (this.overlay) this.overlay(ctx, this);
    }

    // The point shown at a canvas pixel: its offset in the data, or null.
    pickedAt(px, py) {
      const r = this.lastRect;
      if (!r || !this.picked) return null;
      const c = Math.floor(px - r.x);
      const row = Math.floor(py - r.y);
      if (c < 0 || row < 0 || c >= r.w || row >= r.h) return null;
      const at = this.picked[row * r.w + c];
      return at < 0 ? null : at;
    }

    pick(p) {
      const at = this.pickedAt(p.px, p.py);
      return at === null ? null : this.data.point(at);
    }

    readout(p) {
      const at = this.pickedAt(p.px, p.py);
      return at === null ? "" : this.options.describe(this.data.point(at), at);
    }

    // The values in view, rows top to bottom, as the page exports them.
    visible() {
      const win = this.window;
      const {nx, ny, value, sx, sy} = this.data;
      const xs = [Math.max(0, Math.floor(win.x0)), Math.min(nx, Math.ceil(win.x1))];
      const ys = [Math.max(0, Math.floor(win.y0)), Math.min(ny, Math.ceil(win.y1))];
      const rows = [];
      for (let j = ys[1] - 1; j >= ys[0]; --j) {
        const row = [];
        for (let i = xs[0]; i < xs[1]; ++i) row.push(value[i * sx + j * sy]);
        rows.push(row);
      }
      if (!this.axesInfo.yUp) rows.reverse();
      return {rows, x: xs, y: ys};
    }
  }

  // A line plot of values against the sample index (an A-scan). Where
  // samples outnumber the pixels, each pixel column draws their whole range
  // (minimum to maximum), so that no peak is lost.
  class LineView extends View {
    constructor(canvas, options) {
      super(canvas, options);
      this.zoomsY = true;
      this.minSpan = {x: 2, y: 1e-9};
      this.overlay = null;
    }

    set(values, axis, yName, keepWindow, extra) {
      this.error = null;
      this.values = values;
      this.extra = extra || null; // a second line (the envelope)
      this.axisInfo = axis;
      this.yName = yName;
      let lo = Infinity;
      let hi = -Infinity;
      for (const v of values) {
        if (v < lo) lo = v;
        if (v > hi) hi = v;
      }
      if (!(hi > lo)) [lo, hi] = [lo - 1 || -1, hi + 1 || 1];
      const pad = (hi - lo) * 0.05;
      this.full = {x0: 0, x1: values.length, y0: lo - pad, y1: hi + pad};
      if (!keepWindow || !this.window) this.window = {...this.full};
      this.draw();
    }

    toDataIn(win, px, py) {
      const r = this.rect();
      return {x: win.x0 + ((px - r.x) / r.w) * (win.x1 - win.x0),
              y: win.y1 - ((py - r.y) / r.h) * (win.y1 - win.y0)};
    }

    toData(px, py) {
      return this.toDataIn(this.window, px, py);
    }

    xPx(i) {
      const r = this.rect();
      return r.x + ((i + 0.5 - this.window.x0) / (this.window.x1 - this.window.x0)) * r.w;
    }

    yPx(v) {
      const r = this.rect();
      return r.y + ((this.window.y1 - v) / (this.window.y1 - this.window.y0)) * r.h;
    }

    where(i, v) {
      return this.css({x: this.xPx(i), y: this.yPx(v === undefined ? 0 : v)});
    }

    line(values, colour) {
      const ctx = this.ctx;
      const r = this.rect();
      const win = this.window;
      const n = values.length;
      const perPixel = (win.x1 - win.x0) / r.w;
      ctx.strokeStyle = colour;
      ctx.lineWidth = this.ratio;
      ctx.beginPath();
      if (perPixel <= 1) {
        const a = Math.max(0, Math.floor(win.x0) - 1);
        const b = Math.min(n - 1, Math.ceil(win.x1) + 1);
        for (let i = a; i <= b; ++i) {
          if (i === a) ctx.moveTo(this.xPx(i), this.yPx(values[i]));
          else ctx.lineTo(this.xPx(i), this.yPx(values[i]));
        }
        if (n === 1) ctx.lineTo(this.xPx(0) + 6 * this.ratio, this.yPx(values[0])); // one sample: a dash
      } else {
        for (let c = 0; c < r.w; ++c) {
          const a = Math.max(0, Math.floor(win.x0 + c * perPixel));
          const b = Math.min(n - 1, Math.ceil(win.x0 + (c + 1) * perPixel) - 1);
          if (a > b) continue;
          let lo = Infinity;
          let hi = -Infinity;
          for (let i = a; i <= b; ++i) {
            if (values[i] < lo) lo = values[i];
            if (values[i] > hi) hi = values[i];
          }
          ctx.moveTo(r.x + c + 0.5, this.yPx(hi) - 0.5);
          ctx.lineTo(r.x + c + 0.5, this.yPx(lo) + 0.5);
        }
      }
      ctx.stroke();
    }

    draw() {
      if (!this.values || !this.window || this.error) return;
      const t0 = performance.now();
      this.blank();
      const ctx = this.ctx;
      const r = this.rect();
      const a = this.axisInfo;
      const win = this.window;
      ctx.save();
      ctx.beginPath();
      ctx.rect(r.x, r.y, r.w, r.h);
      ctx.clip();
      if (this.overlay) this.overlay(ctx, this);
      this.line(this.values, "#1f5fa8");
      if (this.extra) this.line(this.extra, "#c0392b");
      ctx.restore();
      const xs = {c0: a.start + (win.x0 - 0.5) * a.step, c1: a.start + (win.x1 - 0.5) * a.step,
                  toPx: (c) => this.xPx((c - a.start) / a.step)};
      const ys = {c0: win.y0, c1: win.y1, toPx: (v) => this.yPx(v)};
      this.axes(r, xs, ys, a.name, this.yName);
      this.drawMs = performance.now() - t0;
    }

    pick(p) {
      const i = Math.floor(p.x);
      return i >= 0 && i < this.values.length ? {sample: i} : null;
    }

    readout(p) {
      const i = Math.floor(p.x);
      if (!(i >= 0 && i < this.values.length)) return "";
      return this.options.describe(i, this.values[i]);
    }
  }

  return {ImageView, LineView, scaleOf, fmt, PALETTES};
})();
