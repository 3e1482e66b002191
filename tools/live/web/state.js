// The race as gridscope-live sends it: one WebSocket to /api/live, the full
// state on connect and then changes only. Both the page and the overlay use
// this module; it keeps the state, reconnects when the socket drops, and
// gives each car a pose smoothed between two updates.

const state = {
  session: { server: "", track: "", mode: "", laps: 0, minutes: 0, link: "connecting", trackLoaded: false },
  cars: [],       // by slot: {slot, colour, name, car, lap, best, gap, pos, finished, pose,
                  //   interval_ms, gap_ms, interval_laps, gap_laps, sectors, best_sectors}
  events: [],     // {seq, text, shownAt}
  online: false,  // the WebSocket to gridscope-live is open
};

const listeners = new Set();
const eventListeners = new Set();
const lapListeners = new Set();
const MaxEvents = 100;

// Pose smoothing: each car moves from where it was drawn to its new place
// over the time between the last two updates (about half a second).
function setPose(car, pose, now) {
  const [, x, y, heading, kmh] = pose;
  if (!car.to) {
    car.from = car.to = { x, y, heading };
  } else {
    car.from = poseAt(car, now);
    car.to = { x, y, heading };
  }
  car.kmh = kmh;
  car.span = Math.min(Math.max(now - (car.at || now), 50), 1000);
  car.at = now;
}

// Headings turn the short way round.
function turn(a, b, f) {
  let d = b - a;
  while (d > Math.PI) d -= 2 * Math.PI;
  while (d < -Math.PI) d += 2 * Math.PI;
  return a + d * f;
}

export function poseAt(car, now) {
  if (!car.to) return { x: 0, y: 0, heading: 0 };
  const f = car.span ? Math.min(Math.max((now - car.at) / car.span, 0), 1) : 1;
  return {
    x: car.from.x + (car.to.x - car.from.x) * f,
    y: car.from.y + (car.to.y - car.from.y) * f,
    heading: turn(car.from.heading, car.to.heading, f),
  };
}

// Lines of a full state happened before this page connected: they carry no
// time of their own on this page, unless the page showed them already.
// A full state replaces the log: gridscope-live may have restarted, and its
// lines numbered from 1 again.
function addEvents(list, full) {
  const now = Date.now();
  const before = state.events;
  if (full) state.events = [];
  const last = state.events.length ? state.events[state.events.length - 1].seq : 0;
  const fresh = (list || []).filter((e) => e.seq > last).map((e) => {
    const seen = full && before.find((b) => b.seq === e.seq && b.text === e.text);
    return { ...e, shownAt: seen ? seen.shownAt : full ? 0 : now };
  });
  state.events.push(...fresh);
  if (state.events.length > MaxEvents) state.events.splice(0, state.events.length - MaxEvents);
  for (const f of eventListeners) f(fresh, full);
}

const RowFields = ["colour", "name", "car", "lap", "best", "gap", "pos", "finished", "interval_ms", "gap_ms",
  "interval_laps", "gap_laps", "sectors", "best_sectors"];

// The car of a slot (the race state has 32), made when new; nothing for a
// slot no race has.
const Slots = 32;
function carAt(slot) {
  if (!Number.isInteger(slot) || slot < 0 || slot >= Slots) return null;
  return state.cars[slot] || (state.cars[slot] = { slot, interval_laps: 0, gap_laps: 0 });
}

function setField(car, field, value, now) {
  if (!car) return;
  if (field === "pose") setPose(car, value, now);
  else if (RowFields.includes(field)) car[field] = value;
}

// A full message's cars are arrays of the values its "fields" name.
function applyFull(fields, cars, now) {
  const slotAt = fields.indexOf("slot");
  for (const values of cars) {
    const car = carAt(values[slotAt]);
    fields.forEach((field, i) => setField(car, field, values[i], now));
  }
}

// A change's rows, field by field: {"gap": [slot, text, slot, text, ...]}.
// A car new to the field comes with every field.
function applyRows(rows, now) {
  for (const [field, list] of Object.entries(rows)) {
    for (let i = 0; i + 1 < list.length; i += 2) setField(carAt(list[i]), field, list[i + 1], now);
  }
}

// [slot, x, y, heading, km/h, interval ms, gap ms, laps behind the car
// ahead, laps behind the leader]; the laps only when either is not 0. A
// car whose pose is what it was (its interval changed) keeps gliding.
function applyMove([slot, x, y, heading, kmh, interval, gap, intervalLaps = 0, gapLaps = 0], now) {
  const car = Number.isInteger(slot) ? state.cars[slot] : null;
  if (!car) return;
  const to = car.to;
  if (!to || to.x !== x || to.y !== y || to.heading !== heading) setPose(car, [slot, x, y, heading, kmh], now);
  else car.kmh = kmh;
  car.interval_ms = interval;
  car.gap_ms = gap;
  car.interval_laps = intervalLaps;
  car.gap_laps = gapLaps;
}

function apply(message) {
  const now = performance.now();
  if (message.type === "full") {
    state.session = message.session;
    state.cars = [];
    applyFull(message.fields, message.cars, now);
    addEvents(message.events, true);
    for (const f of lapListeners) f([], true);
  } else if (message.type === "change") {
    // Only the session's keys that changed.
    if (message.session) state.session = { ...state.session, ...message.session };
    if ("count" in message) state.cars.length = Math.min(state.cars.length, message.count);
    applyRows(message.rows || {}, now);
    for (const move of message.moves || []) applyMove(move, now);
    addEvents(message.events);
    if (message.laps) for (const f of lapListeners) f(message.laps, false);
  }
  for (const f of listeners) f(state);
}

let retry = 500;
// The stream beside the page, wherever the page is mounted ("/" or
// "/live/KEY/"): the same folder, over ws: or wss:.
function StreamUrl() {
  const url = new URL("api/live", location.href);
  url.protocol = location.protocol === "https:" ? "wss:" : "ws:";
  return url.href;
}

function connect() {
  const ws = new WebSocket(StreamUrl());
  ws.onopen = () => {
    retry = 500;
    state.online = true;
  };
  ws.onmessage = (e) => {
    try {
      apply(JSON.parse(e.data));
    } catch (err) {
      console.error("gridscope-live: bad message", err);
    }
  };
  ws.onclose = () => {
    state.online = false;
    for (const f of listeners) f(state);
    setTimeout(connect, retry);
    retry = Math.min(retry * 2, 8000);
  };
}

// Cars in standings order: by position, then by slot (as the program lists
// players sharing a position).
export function ranked() {
  return state.cars.filter(Boolean).sort((a, b) => a.pos - b.pos || a.slot - b.slot);
}

export function sessionText(s) {
  const parts = [];
  if (s.server) parts.push(s.server);
  if (s.track) parts.push(s.track);
  if (s.mode === "race") parts.push(s.laps ? `Race, ${s.laps} ${s.laps === 1 ? "lap" : "laps"}` : "Race");
  else if (s.mode === "qualifying") parts.push(s.minutes ? `Qualifying, ${s.minutes} ${s.minutes === 1 ? "minute" : "minutes"}` : "Qualifying");
  return parts.join(" \u2013 ");
}

export function linkText(s, online) {
  if (!online) return "No connection to gridscope-live \u2013 retrying";
  switch (s.link) {
    case "live": return "Live";
    case "silent": return "The race server is silent";
    case "connecting": return "Connecting to the race server\u2026";
    default: return "Disconnected from the race server \u2013 reconnecting";
  }
}

export function onChange(f) { listeners.add(f); }
// f(fresh lines, true when a full state replaced the log)
export function onEvents(f) { eventListeners.add(f); }
// f(laps completed [{name, lap, ms, sectors, pos, gap_ms, personal, overall}],
//   true on a full state: the history is to be read again from api/laps)
export function onLaps(f) { lapListeners.add(f); }
export { state };

// A new element with a class and its text (text, not markup: names come
// from the race server).
export function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

connect();
