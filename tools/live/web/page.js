// The live page: session line, standings with the program's columns and
// order, the track map and the event log.
import { state, ranked, sessionText, linkText, onChange, onEvents, element } from "./state.js";
import { TrackMap } from "./map.js";

const body = document.querySelector("#standings tbody");
const log = document.getElementById("events");
const map = new TrackMap(document.getElementById("map"));

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
    return tr;
  });
  body.replaceChildren(...rows);
}

onChange(render);
onEvents((fresh) => {
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
