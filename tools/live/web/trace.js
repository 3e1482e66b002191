// The race trace: every driver's gap to the leader each time they cross the
// line (the time since the first car crossed that lap's line), one line per
// driver in their colour, growing lap by lap. Read once from api/laps, then
// grown by the laps the stream reports.
import { state, onLaps } from "./state.js";

const SVG = "http://www.w3.org/2000/svg";

function node(tag, attributes) {
  const e = document.createElementNS(SVG, tag);
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
  return e;
}

export class RaceTrace {
  constructor(root) {
    this.root = root;
    this.svg = root.querySelector("svg");
    this.gaps = new Map();  // name -> Map(lap -> gap ms)
    onLaps((laps, full) => {
      if (full) {
        this.load();
        return;
      }
      for (const l of laps) this.add(l.name, l);
      this.draw();
    });
    new ResizeObserver(() => this.draw()).observe(root);
  }

  add(name, lap) {
    if (lap.gap_ms === null || lap.gap_ms === undefined) return;
    let gaps = this.gaps.get(name);
    if (!gaps) this.gaps.set(name, (gaps = new Map()));
    gaps.set(lap.lap, lap.gap_ms);
  }

  async load() {
    try {
      const r = await fetch("api/laps");
      if (!r.ok) return;
      const { drivers } = await r.json();
      this.gaps = new Map();
      for (const d of drivers) for (const l of d.laps) this.add(d.name, l);
      this.draw();
    } catch {
      // drawn as far as the stream has told
    }
  }

  draw() {
    const w = this.root.clientWidth, h = this.root.clientHeight;
    if (!w || !h) return;
    this.svg.setAttribute("viewBox", `0 0 ${w} ${h}`);
    let lastLap = 1, most = 1000;
    for (const gaps of this.gaps.values())
      for (const [lap, gap] of gaps) {
        lastLap = Math.max(lastLap, lap);
        most = Math.max(most, gap);
      }
    const left = 44, right = 10, top = 22, bottom = 18;
    const x = (lap) => left + ((lap - 1) / Math.max(lastLap - 1, 1)) * (w - left - right);
    const y = (gap) => top + (gap / most) * (h - top - bottom);
    const parts = [node("text", { x: 8, y: 14, class: "title" })];
    parts[0].textContent = "Gap to the leader at the line";
    // Whole seconds (or tens of them) down the side, laps along the bottom.
    const step = most > 60000 ? 30000 : most > 20000 ? 10000 : most > 5000 ? 2000 : 1000;
    for (let g = 0; g <= most; g += step) {
      parts.push(node("line", { x1: left, x2: w - right, y1: y(g), y2: y(g), class: "grid" }));
      const label = node("text", { x: left - 6, y: y(g) + 4, class: "axis", "text-anchor": "end" });
      label.textContent = `+${g / 1000}s`;
      parts.push(label);
    }
    const lapStep = Math.max(1, Math.ceil(lastLap / 10));
    for (let lap = 1; lap <= lastLap; lap += lapStep) {
      const label = node("text", { x: x(lap), y: h - 4, class: "axis", "text-anchor": "middle" });
      label.textContent = lap;
      parts.push(label);
    }
    let points = 0;
    for (const [name, gaps] of this.gaps) {
      const car = state.cars.find((c) => c && c.name === name);
      const laps = [...gaps.keys()].sort((a, b) => a - b);
      const line = node("polyline", {
        points: laps.map((lap) => `${x(lap).toFixed(1)},${y(gaps.get(lap)).toFixed(1)}`).join(" "),
        stroke: car ? car.colour : "#888",
        class: "driver",
      });
      line.dataset.name = name;
      line.dataset.points = String(laps.length);
      const title = node("title", {});
      title.textContent = name;
      line.append(title);
      parts.push(line);
      // A dot at each crossing: a driver with one lap shows too.
      for (const lap of laps)
        parts.push(node("circle", { cx: x(lap).toFixed(1), cy: y(gaps.get(lap)).toFixed(1), r: 2.5,
                                    fill: car ? car.colour : "#888" }));
      points += laps.length;
    }
    this.svg.replaceChildren(...parts);
    this.root.dataset.points = String(points);
  }
}
