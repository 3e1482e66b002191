// The timing tower for streaming software. URL parameters:
//   rows=N       rows shown, 1 to 32 (default 10)
//   side=left|right   which edge of the 1920x1080 layer (default left)
//   show=gap|best     the right-hand column (default gap)
import { state, ranked, linkText, onChange, element } from "./state.js";

const params = new URLSearchParams(location.search);
const rows = Math.min(Math.max(parseInt(params.get("rows") || "10", 10) || 10, 1), 32);
const side = params.get("side") === "right" ? "right" : "left";
const show = params.get("show") === "best" ? "best" : "gap";

const tower = document.getElementById("tower");
tower.classList.add(side);
// Rows shrink so that any count fits the 1080-pixel layer.
tower.style.setProperty("--row", Math.min(40, Math.floor(900 / rows)) + "px");
const list = document.getElementById("rows");

function render() {
  const s = state.session;
  document.getElementById("track").textContent = s.track || "";
  const cars = ranked();
  const leader = cars[0];
  let lap = "";
  // The lap the leader is on (the car info counts from 1), never past the race's length.
  const on = leader ? Math.max(leader.lap, 1) : 1;
  if (s.mode === "race" && leader) lap = s.laps ? `Lap ${Math.min(on, s.laps)}/${s.laps}` : `Lap ${on}`;
  else if (s.mode === "qualifying") lap = "Qualifying";
  document.getElementById("lap").textContent = lap;

  const items = cars.slice(0, rows).map((c) => {
    const li = document.createElement("li");
    li.dataset.slot = c.slot;
    const bar = element("span", "bar");
    bar.style.background = c.colour;
    const value = show === "best" ? (c.best === "0:00.00" ? "" : c.best) : c.pos === 1 ? (s.mode === "race" ? "Leader" : c.best) : c.gap;
    li.append(element("span", "pos", c.pos), bar, element("span", "name", c.name), element("span", "value", value));
    return li;
  });
  list.replaceChildren(...items);
  const status = document.getElementById("status");
  const ok = state.online && s.link === "live";
  status.textContent = ok ? "" : linkText(s, state.online);
  status.hidden = ok;
}

onChange(render);
render();
