// A driver's lap history, opened by a click on their row: every lap with
// its time, sectors and position at the line, read once from api/laps and
// grown by the laps the stream reports. The session's best lap and sectors
// are purple, the driver's own best green.
import { state, onLaps, element } from "./state.js";
import { time, sectorClass } from "./timing.js";

export class LapHistory {
  constructor(root) {
    this.root = root;
    this.title = root.querySelector(".driver");
    this.body = root.querySelector("tbody");
    this.name = null;
    this.laps = new Map();  // lap number -> lap
    root.querySelector(".close").addEventListener("click", () => this.close());
    onLaps((laps, full) => {
      if (this.name === null) return;
      if (full) {
        // Perhaps another session, or gridscope-live started again.
        this.laps = new Map();
        this.load(this.name);
        return;
      }
      let fresh = false;
      for (const l of laps) {
        if (l.name !== this.name) continue;
        this.laps.set(l.lap, l);
        fresh = true;
      }
      if (fresh) this.render();
    });
  }

  open(name) {
    this.name = name;
    this.laps = new Map();
    this.title.textContent = name;
    this.root.hidden = false;
    this.render();
    this.load(name);
  }

  close() {
    this.name = null;
    this.root.hidden = true;
  }

  async load(name) {
    try {
      const r = await fetch("api/laps?name=" + encodeURIComponent(name));
      if (!r.ok || this.name !== name) return;
      for (const l of await r.json()) if (!this.laps.has(l.lap)) this.laps.set(l.lap, l);
      this.render();
    } catch {
      // shown as far as the stream has told
    }
  }

  render() {
    const car = state.cars.find((c) => c && c.name === this.name);
    const session = state.session;
    const laps = [...this.laps.values()].sort((a, b) => b.lap - a.lap);
    const timed = laps.filter((l) => l.ms !== null).map((l) => l.ms);
    const mine = timed.length ? Math.min(...timed) : null;
    const best = session.best_lap;
    const rows = laps.map((l) => {
      const tr = document.createElement("tr");
      tr.dataset.lap = l.lap;
      const lapClass = l.ms === null ? "" : best && best.name === this.name && l.ms === best.ms ? "sb" :
        l.ms === mine ? "pb" : "";
      tr.append(element("td", "num", l.lap), element("td", "num " + lapClass, l.ms === null ? "\u2013" : time(l.ms)));
      for (let i = 0; i < 3; i++) {
        const ms = l.sectors[i];
        tr.append(element("td", "num " + sectorClass(ms, i, car, session), ms === null ? "\u2013" : time(ms)));
      }
      tr.append(element("td", "num", l.pos));
      return tr;
    });
    this.body.replaceChildren(...rows);
    this.root.dataset.laps = String(laps.length);
  }
}
