// The track from above and the cars on it. The track picture comes once per
// track from /api/track (the mesh's triangles in the program's colours) and
// is painted into a canvas; the cars are SVG arrows in their players'
// colours over it, moved every animation frame along their smoothed poses.
import { state, poseAt, onChange } from "./state.js";

const SVG = "http://www.w3.org/2000/svg";

export class TrackMap {
  constructor(root) {
    this.root = root;
    this.canvas = root.querySelector("canvas");
    this.svg = root.querySelector("svg");
    this.cars = new Map();  // slot -> {g, label}
    this.track = null;      // code of the picture shown
    this.loading = null;
    this.bounds = null;     // {minX, minY, maxX, maxY}
    this.tris = null;
    this.alwaysNames = false;
    // Painting the whole track takes a while: once the size has settled.
    let settle = 0;
    new ResizeObserver(() => {
      clearTimeout(settle);
      settle = setTimeout(() => this.paintTrack(), 150);
    }).observe(root);
    onChange(() => this.update());
    const frame = () => {
      this.drawCars();
      requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
  }

  setAlwaysNames(on) {
    this.alwaysNames = on;
    this.root.classList.toggle("names", on);
  }

  async update() {
    const s = state.session;
    if (s.trackLoaded && s.track && s.track !== this.track && s.track !== this.loading) {
      this.loading = s.track;
      try {
        const r = await fetch("api/track?code=" + encodeURIComponent(s.track));
        if (r.ok) this.readTrack(s.track, await r.arrayBuffer());
      } finally {
        this.loading = null;
      }
    }
  }

  // "GSTRACK2": count, bounds, then per triangle three u16 points as
  // fractions of the bounds and an RGB colour (15 bytes).
  readTrack(code, buffer) {
    if (buffer.byteLength < 28) return;
    const v = new DataView(buffer);
    const magic = new TextDecoder().decode(new Uint8Array(buffer, 0, 8));
    const count = v.getUint32(8, true);
    if (magic !== "GSTRACK2" || 28 + count * 15 > buffer.byteLength) return;
    this.bounds = {
      minX: v.getFloat32(12, true), minY: v.getFloat32(16, true),
      maxX: v.getFloat32(20, true), maxY: v.getFloat32(24, true),
    };
    this.tris = { view: v, count };
    this.track = code;
    this.root.dataset.track = code;
    this.paintTrack();
  }

  // World to pixel: x to the right, y up, the whole track in view.
  transform() {
    const w = this.root.clientWidth, h = this.root.clientHeight;
    const b = this.bounds || this.carBounds();
    const spanX = Math.max(b.maxX - b.minX, 1), spanY = Math.max(b.maxY - b.minY, 1);
    const scale = 0.94 * Math.min(w / spanX, h / spanY);
    const ox = (w - spanX * scale) / 2, oy = (h - spanY * scale) / 2;
    return { scale, x: (x) => ox + (x - b.minX) * scale, y: (y) => oy + (b.maxY - y) * scale };
  }

  carBounds() {
    const cars = state.cars.filter(Boolean);
    if (!cars.length) return { minX: -100, minY: -100, maxX: 100, maxY: 100 };
    const xs = cars.map((c) => c.to.x), ys = cars.map((c) => c.to.y);
    return { minX: Math.min(...xs) - 20, minY: Math.min(...ys) - 20, maxX: Math.max(...xs) + 20, maxY: Math.max(...ys) + 20 };
  }

  paintTrack() {
    const dpr = window.devicePixelRatio || 1;
    const w = this.root.clientWidth, h = this.root.clientHeight;
    this.canvas.width = Math.round(w * dpr);
    this.canvas.height = Math.round(h * dpr);
    this.svg.setAttribute("viewBox", `0 0 ${w} ${h}`);
    const g = this.canvas.getContext("2d");
    g.setTransform(dpr, 0, 0, dpr, 0, 0);
    g.clearRect(0, 0, w, h);
    if (!this.tris) return;
    const t = this.transform();
    const { view: v, count } = this.tris;
    const b = this.bounds;
    const kx = (b.maxX - b.minX) / 65535, ky = (b.maxY - b.minY) / 65535;
    const px = (at) => t.x(b.minX + v.getUint16(at, true) * kx);
    const py = (at) => t.y(b.minY + v.getUint16(at, true) * ky);
    g.lineWidth = 0.5;
    // Later triangles cover earlier ones, as the program draws them; a thin
    // stroke in the same colour closes hairline gaps between neighbours.
    for (let i = 0, at = 28; i < count; i++, at += 15) {
      const colour = `rgb(${v.getUint8(at + 12)},${v.getUint8(at + 13)},${v.getUint8(at + 14)})`;
      g.fillStyle = g.strokeStyle = colour;
      g.beginPath();
      g.moveTo(px(at), py(at + 2));
      g.lineTo(px(at + 4), py(at + 6));
      g.lineTo(px(at + 8), py(at + 10));
      g.closePath();
      g.fill();
      g.stroke();
    }
    this.root.dataset.painted = String(count);
  }

  carNode(car) {
    let node = this.cars.get(car.slot);
    if (!node) {
      const g = document.createElementNS(SVG, "g");
      g.setAttribute("class", "car");
      const arrow = document.createElementNS(SVG, "path");
      arrow.setAttribute("d", "M 9 0 L -6 -5.5 L -3 0 L -6 5.5 Z");
      const label = document.createElementNS(SVG, "text");
      label.setAttribute("y", "-10");
      const title = document.createElementNS(SVG, "title");
      g.append(arrow, label, title);
      this.svg.append(g);
      node = { g, arrow, label, title };
      this.cars.set(car.slot, node);
    }
    return node;
  }

  drawCars() {
    const now = performance.now();
    const t = this.transform();
    const live = new Set();
    for (const car of state.cars) {
      if (!car || !car.to) continue;
      live.add(car.slot);
      const n = this.carNode(car);
      const p = poseAt(car, now);
      // Heading 0 points up the map (+y) and grows anticlockwise; SVG's y runs down.
      const deg = (-p.heading * 180) / Math.PI - 90;
      n.arrow.setAttribute("transform", `rotate(${deg.toFixed(1)})`);
      n.g.setAttribute("transform", `translate(${t.x(p.x).toFixed(1)} ${t.y(p.y).toFixed(1)})`);
      n.g.dataset.slot = car.slot;
      n.arrow.setAttribute("fill", car.colour || "#fff");
      if (n.label.textContent !== car.name) n.label.textContent = n.title.textContent = car.name || "";
    }
    for (const [slot, n] of this.cars) {
      if (!live.has(slot)) {
        n.g.remove();
        this.cars.delete(slot);
      }
    }
  }
}
