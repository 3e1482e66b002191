// Timing texts and colours shared by the page, the lap history and the
// tower: times in ms as the state carries them.

// 83456 -> "1:23.456", 23456 -> "23.456"; "" when unknown.
export function time(ms) {
  if (ms === null || ms === undefined) return "";
  const m = Math.floor(ms / 60000), s = (ms % 60000) / 1000;
  return m ? `${m}:${s.toFixed(3).padStart(6, "0")}` : s.toFixed(3);
}

// The interval or gap: "+1.234", "+1:02.345", "+1 Lap", "+3 Laps"; "" when
// unknown.
export function behind(ms, laps) {
  if (laps > 0) return `+${laps} ${laps === 1 ? "Lap" : "Laps"}`;
  return ms === null || ms === undefined ? "" : "+" + time(ms);
}

// "sb" for the session's best, "pb" for the driver's own best, "".
export function sectorClass(ms, i, car, session) {
  if (ms === null || ms === undefined) return "";
  const overall = session && session.best_sectors ? session.best_sectors[i] : null;
  if (overall !== null && overall !== undefined && ms <= overall) return "sb";
  const mine = car && car.best_sectors ? car.best_sectors[i] : null;
  return mine !== null && mine !== undefined && ms <= mine ? "pb" : "";
}

// A battle: within a second of the car ahead, on the same lap.
export function inBattle(car) {
  return car.pos > 1 && !car.interval_laps && car.interval_ms !== null && car.interval_ms !== undefined &&
    car.interval_ms < 1000;
}
