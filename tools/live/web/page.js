// The live page: session line, standings with the program's columns and
// order and the timing's (interval, sectors), the session's bests, the
// track map, the race trace, a driver's lap history on a click, and the
// event log.
import { state, ranked, sessionText, linkText, onChange, onEvents, element } from "./state.js";
import { TrackMap } from "./map.js";
import { RaceTrace } from "./trace.js";
import { LapHistory } from "./history.js";
import { time, behind, sectorClass } from "./timing.js";

const body = document.querySelector("#standings tbody");
const log = document.getElementById("events");
const map = new TrackMap(document.getElementById("map"));
new RaceTrace(document.getElementById("trace"));
const history = new LapHistory(document.getElementById("history"));
body.addEventListener("click", (e) => {
  const tr = e.target.closest("tr");
  if (tr && tr.dataset.name) history.open(tr.dataset.name);
});

// The choice is remembered where the browser allows it: a page embedded in
// another site's frame may have no storage at all.
function remembered() {
  try {
    return localStorage.getItem("gs-names") === "1";
  } catch {
    return false;
  }
}
function remember(on) {
  try {
    localStorage.setItem("gs-names", on ? "1" : "0");
  } catch {
    // not remembered, still shown
  }
}
const names = document.getElementById("names");
names.checked = remembered();
map.setAlwaysNames(names.checked);
names.addEventListener("change", () => {
  remember(names.checked);
  map.setAlwaysNames(names.checked);
});

function cell(tr, text, cls) {
  tr.append(element("td", cls, text));
}

function render() {
  const s = state.session;
  document.getElementById("session").textContent = sessionText(s) || "Gridscope live";
  document.title = s.server ? `${s.server} \u2013 Gridscope live` : "Gridscope live";
  const link = document.getElementById("link");
  link.textContent = linkText(s, state.online);
  link.className = "link " + (state.online ? s.link : "offline");

  const rows = ranked().map((c) => {
    const tr = document.createElement("tr");
    tr.dataset.slot = c.slot;
    tr.dataset.pos = c.pos;
    if (c.finished) tr.classList.add("finished");
    cell(tr, c.pos, "pos");
    const name = document.createElement("td");
    const swatch = element("span", "swatch");
    swatch.style.background = c.colour;
    name.append(swatch, element("span", "name", c.name));
    tr.append(name);
    cell(tr, c.car);
    cell(tr, c.lap, "num");
    cell(tr, c.best, "num");
    cell(tr, c.gap, "num");
    tr.dataset.name = c.name;
    cell(tr, c.pos === 1 ? "" : behind(c.interval_ms, c.interval_laps), "num interval");
    for (let i = 0; i < 3; i++) {
      const ms = (c.sectors || [])[i];
      cell(tr, time(ms), "num sector " + sectorClass(ms, i, c, s));
    }
    return tr;
  });
  body.replaceChildren(...rows);
  renderBests(s);
}

// The session's best lap with its driver, and its best sectors.
function renderBests(s) {
  const parts = [];
  if (s.best_lap) {
    parts.push(element("span", "label", "Best lap"), element("span", "value sb", time(s.best_lap.ms)),
               element("span", "who", s.best_lap.name));
  }
  (s.best_sectors || []).forEach((ms, i) => {
    if (ms !== null) parts.push(element("span", "label", `S${i + 1}`), element("span", "value sb", time(ms)));
  });
  document.getElementById("bests").replaceChildren(...parts);
}

onChange(render);
onEvents((fresh, full) => {
  if (full) log.replaceChildren();
  for (const e of fresh) {
    const li = document.createElement("li");
    li.textContent = e.text;
    li.dataset.seq = e.seq;
    li.dataset.shownAt = e.shownAt;
    log.prepend(li);
  }
  while (log.children.length > 100) log.lastElementChild.remove();
});
render();
