// The timing tower for streaming software. URL parameters:
//   rows=N       rows shown, 1 to 32 (default 10)
//   side=left|right   which edge of the 1920x1080 layer (default left)
//   show=gap|interval|best   the right-hand column (default gap)
//   focus=NAME   keep this driver's row highlighted (and shown, in the
//                last row when they are further back)
// A car within a second of the car ahead is in a battle (both rows
// marked); a position gained or lost shows an arrow for five seconds; a
// new best lap of the session flashes its driver's row.
import { state, ranked, linkText, onChange, element } from "./state.js";
import { time, behind, inBattle } from "./timing.js";

const params = new URLSearchParams(location.search);
const rows = Math.min(Math.max(parseInt(params.get("rows") || "10", 10) || 10, 1), 32);
const side = params.get("side") === "right" ? "right" : "left";
const show = ["best", "interval"].includes(params.get("show")) ? params.get("show") : "gap";
const focus = params.get("focus") || "";
const ShowForMs = 5000;

const tower = document.getElementById("tower");
tower.classList.add(side);
// Rows shrink so that any count fits the 1080-pixel layer.
tower.style.setProperty("--row", Math.min(40, Math.floor(900 / rows)) + "px");
const list = document.getElementById("rows");

// Positions as last rendered, arrows and flashes still showing (by name).
const lastPos = new Map();
const arrows = new Map();  // name -> {up, until}
let flash = null;          // {name, ms, until}
let lastBest = undefined;  // the session's best lap as last seen
let settled = false;       // the first state is not news
let wake = 0;

function value(c, s) {
  if (show === "best") return c.best === "0:00.00" ? "" : c.best;
  if (c.pos === 1) return s.mode === "race" ? "Leader" : c.best;
  return show === "interval" ? behind(c.interval_ms, c.interval_laps) : c.gap;
}

function noteChanges(cars, now) {
  const best = state.session.best_lap;
  const bestKey = best ? `${best.name}\u0000${best.ms}` : null;
  if (settled && bestKey && bestKey !== lastBest) flash = { name: best.name, ms: best.ms, until: now + ShowForMs };
  lastBest = bestKey;
  for (const c of cars) {
    const was = lastPos.get(c.name);
    if (settled && was !== undefined && was !== c.pos) arrows.set(c.name, { up: c.pos < was, until: now + ShowForMs });
    lastPos.set(c.name, c.pos);
  }
  settled = true;
}

function render() {
  const s = state.session;
  const now = performance.now();
  document.getElementById("track").textContent = s.track || "";
  const cars = ranked();
  noteChanges(cars, now);
  const leader = cars[0];
  let lap = "";
  // The lap the leader is on (the car info counts from 1), never past the race's length.
  const on = leader ? Math.max(leader.lap, 1) : 1;
  if (s.mode === "race" && leader) lap = s.laps ? `Lap ${Math.min(on, s.laps)}/${s.laps}` : `Lap ${on}`;
  else if (s.mode === "qualifying") lap = "Qualifying";
  document.getElementById("lap").textContent = lap;

  let shown = cars.slice(0, rows);
  const focused = focus && cars.find((c) => c.name === focus);
  if (focused && !shown.includes(focused)) shown = [...shown.slice(0, rows - 1), focused];
  const battling = new Set();
  cars.forEach((c, i) => {
    if (i > 0 && inBattle(c)) battling.add(c.name).add(cars[i - 1].name);
  });
  const items = shown.map((c) => {
    const li = document.createElement("li");
    li.dataset.slot = c.slot;
    li.dataset.name = c.name;
    const bar = element("span", "bar");
    bar.style.background = c.colour;
    const arrow = arrows.get(c.name);
    const mark = element("span", "arrow");
    if (arrow && arrow.until > now) {
      mark.textContent = arrow.up ? "\u25b2" : "\u25bc";
      mark.classList.add(arrow.up ? "gain" : "loss");
      li.dataset.arrow = arrow.up ? "up" : "down";
    } else arrows.delete(c.name);
    let shownValue = value(c, s);
    if (flash && flash.until > now && flash.name === c.name) {
      li.classList.add("best-flash");
      shownValue = time(flash.ms);
    }
    if (battling.has(c.name)) li.classList.add("battle");
    if (focus && c.name === focus) li.classList.add("focus");
    li.append(element("span", "pos", c.pos), mark, bar, element("span", "name", c.name),
              element("span", "value", shownValue));
    return li;
  });
  if (flash && flash.until <= now) flash = null;
  list.replaceChildren(...items);
  const status = document.getElementById("status");
  const ok = state.online && s.link === "live";
  status.textContent = ok ? "" : linkText(s, state.online);
  status.hidden = ok;
  // Arrows and flashes go when their time is up, changes or not.
  const next = Math.min(...[...arrows.values()].map((a) => a.until), flash ? flash.until : Infinity);
  clearTimeout(wake);
  if (next !== Infinity) wake = setTimeout(render, Math.max(0, next - now) + 20);
}

onChange(render);
render();
