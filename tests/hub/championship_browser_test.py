#!/usr/bin/env python3
"""The hub's championship page in a real browser (headless Chromium from
Debian): a season written row by row into the hub's SQLite store with plain
SQL, penalties given with the hub's own penalty command, the page read as a
league's visitor sees it.

usage: championship_browser_test.py HUB OUTDIR

Worked out by hand (points 10,6,4; fastest lap 1 to a scorer; one dropped
round; round 3 double):

  R1  Ann, Bo, Cy; Ann +4 s (swaps with Bo) -> Bo 10, Ann 6, Cy 4; fastest Bo +1
  R2  Cy, Ann, Bo                            -> Cy 10, Ann 6, Bo 4; fastest Cy +1
  R3  x2: Ann, Cy, Bo                        -> Ann 20, Cy 12, Bo 8; fastest Ann +2
  Ann 6 6 22 (R1 dropped, of equal 6 the earlier) = 28; Cy 4 11 12 (R1 dropped) = 23
  Bo 11 4 8 (R2 dropped) = 19, less 5 points = 14
"""

import base64
import os
import sqlite3
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "live"))
from browser import Failure, Process, WebDriver, check, free_port, http_get, wait_until

HUB, OUT = sys.argv[1:3]


def write_season(store):
    db = sqlite3.connect(store)
    # The hub saved its server's row when it started.
    ids = {}
    for name in ("Ann", "<i>Bo</i>", "Cy"):
        ids[name] = db.execute("INSERT INTO drivers (raw, name) VALUES (?, ?) RETURNING id",
                               (name.encode("cp1252"), name)).fetchone()[0]
    races = []
    rounds = [("2026-12-01", ["Ann", "<i>Bo</i>", "Cy"], "<i>Bo</i>"),
              ("2026-12-08", ["Cy", "Ann", "<i>Bo</i>"], "Cy"),
              ("2026-12-15", ["Ann", "Cy", "<i>Bo</i>"], "Ann")]
    for day, order, fastest in rounds:
        started = f"{day}T20:00:00.000Z"
        race = db.execute("INSERT INTO sessions (server, kind, track, laps, minutes, started, ended, state, listed)"
                          " VALUES ('club', 'race', 'AS1', 10, 0, ?, ?, 'finished', 1) RETURNING id",
                          (started, f"{day}T20:12:00.000Z")).fetchone()[0]
        races.append(race)
        for seq, name in enumerate(order):
            best = 59000 if name == fastest else 60000 + seq
            done = f"{day}T20:0{seq + 1}:00.000Z"
            db.execute("INSERT INTO entries (session_id, driver_id, car) VALUES (?, ?, 'FZ50')", (race, ids[name]))
            db.execute("INSERT INTO laps (session_id, driver_id, lap, car, ms, done_at) VALUES (?, ?, 1, 'FZ50', ?, ?)",
                       (race, ids[name], best, done))
            db.execute("INSERT INTO best_laps (session_id, driver_id, car, track, ms, done_at)"
                       " VALUES (?, ?, 'FZ50', 'AS1', ?, ?)", (race, ids[name], best, done))
            db.execute("INSERT INTO results (session_id, driver_id, seq, pos, car, laps, best_ms, total_ms, finished)"
                       " VALUES (?, ?, ?, ?, 'FZ50', 10, ?, ?, 1)", (race, ids[name], seq, seq + 1, best,
                                                                      600000 + 3000 * seq))
    db.commit()
    db.close()
    return races


def main():
    work = os.path.join(OUT, f"championship-{os.getpid()}")
    data = os.path.join(work, "data")
    os.makedirs(data, exist_ok=True)
    config = os.path.join(work, "hub.ini")
    with open(config, "w") as f:
        f.write(f"[hub]\nhttp = 127.0.0.1:{free_port()}\ndata = {data}\n"
                f"[server:club]\naddress = 127.0.0.1:{free_port()}\n"
                "[championship:winter]\ntitle = Winter Cup 2026\nservers = club\nfrom = 2026-12-01\n"
                "to = 2026-12-31\npoints = 10,6,4\nfastest-lap = 1\ndrop-worst = 1\nmultiplier.3 = 2\n")
    procs = []
    browser = None
    try:
        # The hub makes its store, then stops; the season goes in with plain SQL.
        first = Process([HUB, "--config", config])
        procs.append(first)
        first.port()
        first.stop()
        races = write_season(os.path.join(data, "hub.sqlite"))

        def penalty(*args):
            p = Process([HUB, "--config", config, "penalty", *args])
            code = p.proc.wait(20)
            check(code == 0, f"penalty {args}: status {code}\n{p.output()}")
        penalty("--race", str(races[0]), "--driver", "Ann", "--seconds", "4", "--reason", "Track limits at the hairpin",
                "--by", "Steward")
        penalty("--race", str(races[1]), "--driver", "<i>Bo</i>", "--points", "5", "--reason", "Contact with Cy",
                "--by", "Steward")
        penalty("--race", str(races[2]), "--driver", "Cy", "--disqualify", "--reason", "Car underweight", "--by", "Steward")
        penalty("--revoke", "3", "--reason", "The scales were miscalibrated", "--by", "Chief steward")

        hub = Process([HUB, "--config", config])
        procs.append(hub)
        port = hub.port()
        status, body = http_get(port, "/api/championships/winter")
        check(status == 200, f"the API answers: {status}")

        browser = WebDriver(width=1280, height=900)
        browser.go(f"http://127.0.0.1:{port}/championships/winter")
        wait_until(lambda: browser.js("return document.readyState") == "complete", 10, "the page")
        rows = browser.js("""return [...document.querySelectorAll('table.standings tbody tr')].map(tr =>
            [...tr.cells].map(td => td.innerText.trim()));""")
        check(rows == [["1", "Ann", "6", "6", "22", "", "28"],
                       ["2", "Cy", "4", "11", "12", "", "23"],
                       ["3", "<i>Bo</i>", "11", "4", "8", "\u22125", "14"]], f"the standings as worked out: {rows}")
        dropped = browser.js("""return [...document.querySelectorAll('table.standings td.dropped')].map(td => [
            td.parentElement.cells[1].innerText.trim(), td.innerText.trim(), getComputedStyle(td).textDecorationLine])""")
        check(dropped == [["Ann", "6", "line-through"], ["Cy", "4", "line-through"], ["<i>Bo</i>", "4", "line-through"]],
              f"each driver's dropped round struck through: {dropped}")
        check(browser.js("return document.querySelectorAll('i').length") == 0, "a name is text, never markup")
        penalties = browser.js("""return [...document.querySelectorAll('table.penalties tbody tr')].map(tr =>
            [tr.className, ...[...tr.cells].slice(2, 4).map(td => td.innerText.trim())])""")
        check(penalties == [["", "Ann", "+4 s"], ["", "<i>Bo</i>", "\u22125 points"],
                            ["revoked", "Cy", "disqualified"]], f"the penalties: {penalties}")
        check("The scales were miscalibrated" in browser.js("return document.body.innerText"), "why one was revoked")
        winners = browser.js("""return [...document.querySelectorAll('table.rounds tbody tr')].map(tr =>
            tr.cells[5].innerText.trim())""")
        check(winners == ["<i>Bo</i>", "Cy", "Ann"], f"the rounds' winners after penalties: {winners}")
        # The race's own page: both orders.
        browser.go(f"http://127.0.0.1:{port}/races/{races[0]}")
        wait_until(lambda: browser.js("return document.readyState") == "complete", 10, "the race page")
        order = browser.js("""return [...document.querySelectorAll('table.classification tbody tr')].map(tr =>
            tr.cells[1].innerText.trim())""")
        check(order == ["<i>Bo</i>", "Ann", "Cy"], f"the classification after the 4 s: {order}")

        browser.go(f"http://127.0.0.1:{port}/championships/winter")
        wait_until(lambda: browser.js("return document.readyState") == "complete", 10, "the page")
        shot = browser.cdp("Page.captureScreenshot", {"format": "jpeg", "quality": 85})
        path = os.path.join(OUT, "hub-championship.jpg")
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print(f"screenshot: {path}")
        hub.stop()
        check(hub.proc.returncode == 0, f"the hub ended cleanly:\n{hub.output()}")
    finally:
        if browser:
            browser.quit()
        for p in procs:
            p.stop()
    print("championship page: ok")


if __name__ == "__main__":
    try:
        main()
    except Failure as e:
        print(f"FAILED: {e}")
        sys.exit(1)
