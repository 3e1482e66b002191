#!/usr/bin/env python3
"""gridscope-live in a real browser (headless Chromium from Debian) against
the project's race server.

usage: live_browser_test.py RACESERVER LIVE RUNDIR OUTDIR SCENARIO
scenarios:
  race     the table follows the race server's order, cars move, laps and
           results update the table; the admin password reaches no browser
  names    Windows-1252 driver names read correctly in the page and overlay
  overlay  the tower's background pixels are transparent, no scroll bars,
           rows, side and column from the URL
  delay    --delay 3 shows each lap 3 s after the race server's packet, +-0.2 s
  silence  the tool keeps trying until the race server is up (the cars then
           join the page in changes); the page says when the race server
           goes silent and when it is back, its session line kept
  robust   paths outside the page, junk, an over-long header, a slow client
           and a thousand idle connections are refused or dropped while a
           browser keeps its updates
  timing   against a race the test plays (drivers on scripts along AS1's
           nodes): the interval and sector columns, the session's bests, a
           clicked driver's lap history, the race trace growing lap by lap
  tower    the tower's intervals, battle marks, position arrows, the flash
           of a new best lap and a followed driver, against a scripted race
  restart  the event log goes on when gridscope-live is started again
"""

import json
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import (Failure, Process, ScriptedRaceServer, UdpSpectator, WebDriver, check, free_port, http_get,
                     raw_request, read_png, wait_until)

RACESERVER, LIVE, RUN, OUT, SCENARIO = sys.argv[1:6]
ADMIN = "s3cret-Pw"


class Rig:
    def __init__(self, cars=6, laps=2, scale=10, names=None, delays=(0,)):
        self.procs = []
        args = [RACESERVER, "--port", "0", "--cars", str(cars), "--laps", str(laps), "--sessions", "race",
                "--time-scale", str(scale), "--track-change", "0", "--files", os.path.join(RUN, "files"),
                "--admin", ADMIN, "--seed", "3"]
        if names:
            path = os.path.join(OUT, f"live-names-{os.getpid()}.txt")
            with open(path, "wb") as f:
                f.write(b"\n".join(names) + b"\n")
            args += ["--names", path]
        self.server = self.start(args)
        self.race_port = self.server.port()
        self.lives = [self.start([LIVE, "--server", f"127.0.0.1:{self.race_port}", "--admin", ADMIN,
                                  "--http", "127.0.0.1:0", "--delay", str(d), "--files", RUN]) for d in delays]
        self.ports = [p.port() for p in self.lives]
        self.browser = None

    def start(self, argv):
        p = Process(argv)
        self.procs.append(p)
        return p

    def open(self, path, index=0, **size):
        if not self.browser:
            self.browser = WebDriver(**size)
        self.browser.go(f"http://127.0.0.1:{self.ports[index]}{path}")
        return self.browser

    def close(self):
        if self.browser:
            self.browser.quit()
        for p in reversed(self.procs):
            p.stop()


ROWS_JS = """return [...document.querySelectorAll('#standings tbody tr')].map(tr =>
  [...tr.children].map(td => td.textContent).concat([tr.classList.contains('finished')]));"""
CARS_JS = """return [...document.querySelectorAll('#map g.car')].map(g => [g.dataset.slot, g.getAttribute('transform')]);"""


def scenario_race():
    rig = Rig(cars=6, laps=1, scale=8)
    spectator = UdpSpectator(rig.race_port, ADMIN.encode())
    try:
        b = rig.open("/")
        wait_until(lambda: len(b.js(ROWS_JS)) == 6, 20, "six rows in the table")
        wait_until(lambda: int(b.js("return +document.getElementById('map').dataset.painted || 0")) > 1000, 20,
                   "the track painted from its mesh")
        check(b.js("return document.getElementById('map').dataset.track") == "AS1", "the map shows AS1")

        # Cars move on the map.
        first = dict(b.js(CARS_JS))
        check(len(first) == 6, f"six cars on the map, got {first}")
        time.sleep(1.5)
        later = dict(b.js(CARS_JS))
        moved = [s for s in first if later.get(s) != first[s]]
        check(len(moved) >= 5, f"cars move on the map: {first} then {later}")

        # A lap updates the table.
        laps0 = {r[1]: int(r[3]) for r in b.js(ROWS_JS)}
        wait_until(lambda: any(int(r[3]) > laps0.get(r[1], 99) for r in b.js(ROWS_JS)), 40,
                   "a lap counted in the table")
        check(any(re.search(r"finishes Lap \d+ in \d:\d\d\.\d\d", e) for e in
                  b.js("return [...document.querySelectorAll('#events li')].map(l => l.textContent)")),
              "lap lines in the event log")

        # Results: the finished drivers stand in the order the race server
        # decided (the order of its result packets).
        def results_agree():
            spectator.poll()
            rows = b.js(ROWS_JS)
            done = [r[1] for r in rows if r[-1]]
            if len(spectator.results) >= 4 and done[:len(spectator.results)] == spectator.results:
                return done
            return None
        wait_until(results_agree, 90, "the table's finished drivers in the race server's result order", 0.05)
        positions = [int(r[0]) for r in b.js(ROWS_JS)]
        check(positions == sorted(positions), f"rows in position order: {positions}")
        with open(os.path.join(OUT, "live-page.png"), "wb") as f:
            f.write(b.screenshot())

        # The admin password reaches no browser.
        for path in ("/", "/api/state", "/static/state.js", "/overlay"):
            status, body = http_get(rig.ports[0], path)
            check(status == 200 and ADMIN.encode() not in body, f"{path}: {status}, no password")
    finally:
        spectator.close()
        rig.close()


def scenario_names():
    # "Ren€ “Quick” Müller" and "Zoë ‘Ace’ Ørsted – 1" in Windows-1252; the
    # third name tries to smuggle markup into the page.
    names = [b"^1Ren\x80 \x93Quick\x94 M\xfcller", b"Zo\xeb \x91Ace\x92 \xd8rsted \x96 1", b"<b>x</b>&amp;"]
    expected = ["Ren\u20ac \u201cQuick\u201d M\u00fcller", "Zo\u00eb \u2018Ace\u2019 \u00d8rsted \u2013 1",
                "<b>x</b>&amp;"]
    rig = Rig(cars=4, laps=5, scale=1, names=names)
    try:
        b = rig.open("/")
        shown = lambda: sorted(r[1] for r in b.js(ROWS_JS))
        wait_until(lambda: all(n in shown() for n in expected), 20, f"the names {expected} in the table")
        check(b.js("return document.querySelectorAll('#standings b').length") == 0, "names are text, not markup")
        b.go(f"http://127.0.0.1:{rig.ports[0]}/overlay?rows=4")
        tower = lambda: b.js("return [...document.querySelectorAll('#rows .name')].map(n => n.textContent)")
        wait_until(lambda: all(n in tower() for n in expected), 20, f"the names {expected} in the overlay")
        _, state = http_get(rig.ports[0], "/api/state")
        for n in expected[:2]:
            check(n.encode("utf-8") in state, f"{n} as UTF-8 in /api/state")
    finally:
        rig.close()


def scenario_overlay():
    rig = Rig(cars=12, laps=5, scale=10)
    try:
        b = rig.open("/overlay?rows=8&side=right&show=best", width=1920, height=1080)
        # A browser source: a 1920x1080 layer composited over the video.
        b.cdp("Emulation.setDeviceMetricsOverride", {"width": 1920, "height": 1080, "deviceScaleFactor": 1,
                                                      "mobile": False})
        b.cdp("Emulation.setDefaultBackgroundColorOverride", {"color": {"r": 0, "g": 0, "b": 0, "a": 0}})
        wait_until(lambda: b.js("return document.querySelectorAll('#rows li').length") == 8, 20, "eight rows")
        # Best laps in the right-hand column once the first laps are done.
        wait_until(lambda: b.js("return [...document.querySelectorAll('#rows .value')]"
                                ".filter(v => /^\\d:\\d\\d\\.\\d\\d$/.test(v.textContent)).length") >= 3, 40,
                   "best laps in the tower")
        geometry = b.js("""const t = document.getElementById('tower').getBoundingClientRect();
          const d = document.documentElement;
          return [t.left, t.right, t.top, t.bottom, d.scrollWidth, d.scrollHeight, innerWidth, innerHeight,
                  getComputedStyle(document.body).marginTop, getComputedStyle(document.body).overflow];""")
        left, right, top, bottom, sw, sh, iw, ih, margin, overflow = geometry
        check(right > 1500 and left > 1400, f"the tower on the right: {geometry}")
        check(sw <= iw and sh <= ih and margin == "0px" and overflow == "hidden", f"no margins or scroll bars: {geometry}")
        time.sleep(0.5)
        png = b.screenshot()
        width, height, pixel = read_png(png)
        check((width, height) == (1920, 1080), f"a 1920x1080 layer, got {width}x{height}")
        for x, y in [(5, 5), (1000, 500), (100, 1000), (1915, 1075), (int(left) - 10, int(top) + 20)]:
            check(pixel(x, y)[3] == 0, f"transparent at {x},{y}: {pixel(x, y)}")
        inside = pixel(int(left + right) // 2, int(top) + 60)
        check(inside[3] > 150, f"the tower itself is opaque enough: {inside}")
        with open(os.path.join(OUT, "live-overlay-transparent.png"), "wb") as f:
            f.write(png)
        # The README's picture: the tower over a coloured background.
        composite = os.path.join(OUT, "live-overlay.png")
        subprocess.run(["convert", "-size", "1920x1080", "gradient:#2c5d8a-#7aa35a",
                        os.path.join(OUT, "live-overlay-transparent.png"), "-composite", composite],
                       check=False)
    finally:
        rig.close()


def scenario_delay():
    # The reference is the race server's lap packet itself, as a plain UDP
    # spectator of the same race receives it; the page runs behind --delay 3.
    rig = Rig(cars=8, laps=20, scale=10, delays=(3,))
    spectator = UdpSpectator(rig.race_port, ADMIN.encode())
    spectator.watch_laps()
    try:
        b = rig.open("/")
        events_js = """return [...document.querySelectorAll('#events li')].map(l => [l.textContent, +l.dataset.shownAt]);"""
        gaps = {}

        def matched():
            arrivals = {}
            for text, at in list(spectator.laps):
                arrivals.setdefault(text, []).append(at)
            for text, at in b.js(events_js):
                m = re.search(r"finishes Lap \d+ in (\d+:\d\d\.\d\d)$", text)
                # Only lap times that came once: the match is certain.
                if m and at > 0 and len(arrivals.get(m.group(1), [])) == 1:
                    gaps[text] = (at - arrivals[m.group(1)][0]) / 1000
            return len(gaps) >= 5
        wait_until(matched, 60, "five lap lines on the page", 0.1)
        values = sorted(gaps.values())
        check(all(abs(g - 3.0) <= 0.2 for g in values), f"each change 3 s after its datagram, within 0.2 s: {values}")
        print("delay from datagram to page (s):", " ".join(f"{g:.3f}" for g in values))
    finally:
        spectator.close()
        rig.close()


def tcp_state(sock):
    return struct.unpack("B", sock.getsockopt(socket.SOL_TCP, socket.TCP_INFO, 1))[0]


def open_fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def scenario_robust():
    rig = Rig(cars=32, laps=20, scale=10)
    port = rig.ports[0]
    pid = rig.lives[0].proc.pid
    try:
        b = rig.open("/")
        wait_until(lambda: len(b.js(ROWS_JS)) == 32, 20, "32 rows")
        b.js("window.gsOpens = 0; window.gsEvents = 0;")
        # Paths outside the page's files.
        for path in [b"/static/../../../../etc/passwd", b"/static/%2e%2e/%2e%2e/etc/passwd", b"/../CMakeLists.txt",
                     b"/static/..%2fLiveModel.cpp", b"/static/index.html", b"/static/", b"/etc/passwd",
                     b"/api/track?code=../../../etc/passwd", b"/static/state.js%00.css"]:
            reply = raw_request(port, b"GET " + path + b" HTTP/1.1\r\nHost: x\r\n\r\n")
            check(reply.startswith(b"HTTP/1.1 404"), f"{path!r} refused: {reply[:60]!r}")
        check(raw_request(port, b"POST /api/state HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}")
              .startswith(b"HTTP/1.1 405"), "POST refused")
        # Junk and an over-long header: the connection goes, nothing else.
        check(b"HTTP/1.1 200" not in raw_request(port, b"\x16\x03\x01\x02\x00junk\r\n\r\n\x00\xff" * 50),
              "junk gets no page")
        check(b"HTTP/1.1 200" not in raw_request(port, b"GET / HTTP/1.1\r\nX-Long: " + b"a" * 300000 + b"\r\n\r\n"),
              "an over-long header gets no page")
        check(b"HTTP/1.1 200" not in raw_request(port, b"POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n" +
                                                 b"b" * 200000), "a huge body gets no page")
        # A WebSocket elsewhere than the live stream, and junk on the stream.
        upgrade = (b"Host: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                   b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
        check(b" 101 " not in raw_request(port, b"GET /api/other HTTP/1.1\r\n" + upgrade)[:20],
              "no WebSocket but the live stream")
        with socket.create_connection(("127.0.0.1", port), timeout=5) as ws:
            ws.sendall(b"GET /api/live HTTP/1.1\r\n" + upgrade)
            check(b" 101 " in ws.recv(4096)[:20], "the live stream opens")
            # A masked text frame that claims a terabyte.
            ws.sendall(b"\x81\xff" + struct.pack(">Q", 1 << 40) + b"\x01\x02\x03\x04" + b"z" * 8192)
            def closed():
                try:
                    return ws.recv(65536) == b""
                except ConnectionResetError:
                    return True
                except socket.timeout:
                    return False
            wait_until(closed, 5, "the junk frame's sender dropped", 0)
        status, _ = http_get(port, "/api/state")
        check(status == 200, "still serving after junk")

        # A thousand idle connections cost nothing lasting.
        baseline = open_fds(pid)
        idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(1000)]
        t0 = time.monotonic()
        status, _ = http_get(port, "/api/state")
        check(status == 200 and time.monotonic() - t0 < 2, "served beside 1000 idle connections")
        for s in idle:
            s.close()
        wait_until(lambda: open_fds(pid) <= baseline + 5, 10, "descriptors back to their count before")

        # A slow client: a WebSocket that never reads, with a tiny window,
        # is dropped; the browser keeps its updates.
        slow = socket.socket()
        slow.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 2048)
        slow.connect(("127.0.0.1", port))
        slow.sendall(b"GET /api/live HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
        time.sleep(0.5)
        check(tcp_state(slow) == 1, "the slow client is connected at first")
        b.js("""window.gsPoses = 0; window.gsEvents = 0;
                const log = document.getElementById('events');
                new MutationObserver(() => window.gsEvents++).observe(log, {childList: true});
                const map = document.getElementById('map');
                new MutationObserver(() => window.gsPoses++).observe(map, {attributes: true, subtree: true});""")
        t0 = time.monotonic()
        wait_until(lambda: tcp_state(slow) != 1, 60, "the slow client dropped", 0.2)
        print(f"slow client dropped after {time.monotonic() - t0:.1f} s")
        slow.close()
        before = b.js("return [window.gsPoses, window.gsEvents]")
        time.sleep(2)
        after = b.js("return [window.gsPoses, window.gsEvents]")
        check(after[0] > before[0], f"the browser's cars keep moving: {before} {after}")
        check(b.js("return document.getElementById('link').textContent") == "Live", "the browser stays live")
        check(rig.lives[0].proc.poll() is None, "gridscope-live still runs")
    finally:
        rig.close()


def scenario_silence():
    # gridscope-live first, the race server later: the tool keeps trying, as
    # a user clicking Connect again would.
    race_port = free_port()
    live = Process([LIVE, "--server", f"127.0.0.1:{race_port}", "--http", "127.0.0.1:0", "--files", RUN])
    server, browser = None, None
    try:
        port = live.port()
        browser = WebDriver()
        browser.go(f"http://127.0.0.1:{port}/")
        link = lambda: browser.js("return document.getElementById('link').textContent")
        wait_until(lambda: "reconnecting" in link(), 15, "the page telling the race server is not there")
        server = Process([RACESERVER, "--port", str(race_port), "--cars", "4", "--files", os.path.join(RUN, "files")])
        server.port()
        wait_until(lambda: link() == "Live", 20, "the page live once the race server is up")
        # The four cars joined after the page's full state: each came in a
        # change, every field of it, and stands in the table and on the map.
        wait_until(lambda: len(browser.js(ROWS_JS)) == 4, 10, "four rows")
        wait_until(lambda: all(r[1] and r[2] and r[0].isdigit() for r in browser.js(ROWS_JS)) and
                   len(browser.js(CARS_JS)) == 4, 10, "the joined cars' names, cars and places, and their arrows")
        session = lambda: browser.js("return document.getElementById('session').textContent")
        check("Gridscope Demo" in session() and "AS1" in session(), f"the session line: {session()}")
        # The race server stops answering: the page says so, then recovers.
        # Only the link travels: the rest of the session line stays.
        server.proc.send_signal(signal.SIGSTOP)
        wait_until(lambda: link() == "The race server is silent", 8, "the page telling the race server is silent")
        server.proc.send_signal(signal.SIGCONT)
        wait_until(lambda: link() == "Live", 8, "the page live again")
        check("Gridscope Demo" in session() and "AS1" in session(), f"the session line kept: {session()}")
        events = browser.js("return [...document.querySelectorAll('#events li')].map(l => l.textContent)")
        check(any("The race server is silent" in e for e in events), f"the silence in the log: {events}")
    finally:
        if browser:
            browser.quit()
        if server:
            server.proc.send_signal(signal.SIGCONT)
            server.stop()
        live.stop()


class ScriptedRig:
    """gridscope-live against a race the test plays, and a browser."""

    def __init__(self, names, scripts, width=1600, height=1000):
        self.server = ScriptedRaceServer(os.path.join(RUN, "files", "AS1.pth"), "AS1", names, scripts)
        self.live = Process([LIVE, "--server", f"127.0.0.1:{self.server.port}", "--http", "127.0.0.1:0",
                             "--files", RUN])
        self.port = self.live.port()
        self.browser = WebDriver(width=width, height=height)

    def open(self, path, ready):
        """Opens the page and starts the race once `ready` holds there."""
        self.browser.go(f"http://127.0.0.1:{self.port}{path}")
        wait_until(lambda: self.browser.js(ready), 20, f"{path} showing the field")
        self.server.go()
        return self.browser

    def close(self):
        self.browser.quit()
        self.live.stop()
        self.server.stop()


def seconds(text):
    """ "+1.250" / "1:02.345" / "3.160" as seconds."""
    m = re.fullmatch(r"\+?(?:(\d+):)?(\d+\.\d+)", text)
    check(m, f"a time, not {text!r}")
    return int(m.group(1) or 0) * 60 + float(m.group(2))


def near(a, b, within=0.03):
    return a is not None and abs(a - b) <= within


def scenario_timing():
    # AS1: 950 nodes, sectors end 316 and 633 nodes past the finish node.
    # Every driver at 100 nodes a second (9.5 s a lap), Bob 1.25 s behind
    # Ann, Cid 0.6 s behind Bob, Dan 3 s behind Cid; in lap 3 Bob drives
    # sector 2 at 125 nodes a second (2.536 s): the session's best sector
    # and, at 8.866 s, its best lap.
    def bob(t):
        t1 = (2216 - 575) / 100
        t2 = t1 + 317 / 125
        if t < t1:
            return 575 + 100 * t
        if t < t2:
            return 2216 + 125 * (t - t1)
        return 2533 + 100 * (t - t2)
    names = ["Ann", "Bob", "Cid", "Dan"]
    rig = ScriptedRig(names, [lambda t: 700 + 100 * t, bob, lambda t: 515 + 100 * t, lambda t: 215 + 100 * t])
    try:
        b = rig.open("/", "return document.querySelectorAll('#standings tbody tr').length == 4")
        byname = lambda: {r[1]: r for r in b.js(ROWS_JS)}
        # Intervals (column 7) once every car passes nodes the one ahead has.
        def intervals():
            rows = byname()
            got = {n: rows[n][6] for n in names}
            ok = got["Ann"] == "" and all(got[n] for n in names[1:]) and \
                near(seconds(got["Bob"]), 1.25) and near(seconds(got["Cid"]), 0.6) and near(seconds(got["Dan"]), 3.0)
            return got if ok else None
        print("intervals:", wait_until(intervals, 20, "intervals +1.250, +0.600 and +3.000 within 0.03 s", 0.2))
        def api_state():
            cars = {c["name"]: c for c in json.loads(http_get(rig.port, "/api/state")[1])["cars"]}
            return cars["Ann"]["interval_ms"] is None and near(cars["Bob"]["interval_ms"], 1250, 30) and \
                near(cars["Dan"]["gap_ms"], 4850, 30)
        wait_until(api_state, 10, "/api/state's intervals and gaps", 0.2)
        # Lap 2's sectors as they come: 3.160 and 3.170 s.
        def sectors():
            row = byname()["Ann"]
            return row[7:10] if row[7] and row[8] and int(row[3]) == 2 else None
        ann = wait_until(sectors, 20, "Ann's first two sectors of lap 2", 0.1)
        check(near(seconds(ann[0]), 3.16) and near(seconds(ann[1]), 3.17), f"Ann's sectors {ann}")

        # A click on Bob opens his history; the trace has lap 1's crossings.
        b.js("document.querySelector('#standings tr[data-name=\"Bob\"]').click()")
        wait_until(lambda: b.js("return !document.getElementById('history').hidden"), 5, "the history open")
        points = lambda: int(b.js("return +document.getElementById('trace').dataset.points || 0"))
        first = wait_until(points, 10, "the race trace's first points")
        wait_until(lambda: points() > first, 20, "the race trace growing after a lap")

        # Bob's sector 2 of lap 3, purple; the session's bests.
        def fast_sector():
            cells = b.js("""const tr = document.querySelector('#standings tr[data-name="Bob"]');
              return [...tr.querySelectorAll('td.sector')].map(td => [td.textContent, td.className]);""")
            return cells if cells[1][0] and near(seconds(cells[1][0]), 2.536) and "sb" in cells[1][1] else None
        wait_until(fast_sector, 30, "Bob's 2.536 s sector 2 in purple", 0.05)
        bests = lambda: b.js("return document.getElementById('bests').textContent")
        shown = []
        def best_lap():
            shown[:] = [bests()]
            m = re.search(r"Best lap(\d+\.\d+)Bob", shown[0])
            return m and near(float(m.group(1)), 8.866, 0.05)
        try:
            wait_until(best_lap, 15, "Bob's best lap of 8.866 s in the bests")
        except Failure as e:
            raise Failure(f"{e}; the bests read {shown}")
        history = b.js("""return [...document.querySelectorAll('#history tbody tr')].map(tr =>
            [...tr.children].map(td => [td.textContent, td.className]));""")
        laps = {int(r[0][0]): r for r in history}
        check(set(laps) >= {1, 2, 3}, f"Bob's laps 1 to 3 in the history: {history}")
        check(laps[1][1][0] == "\u2013", f"lap 1 began before Bob was seen: {laps[1]}")
        check(near(seconds(laps[2][1][0]), 9.5) and laps[2][5][0] == "2", f"lap 2: 9.500 s in P2: {laps[2]}")
        check(near(seconds(laps[3][1][0]), 8.866, 0.05) and "sb" in laps[3][1][1],
              f"lap 3 the session's best: {laps[3]}")
        _, body = http_get(rig.port, "/api/laps?name=Bob")
        api = json.loads(body)
        check(near(api[1]["ms"], 9500, 30) and near(sum(api[2]["sectors"]), api[2]["ms"], 0) and api[1]["pos"] == 2,
              f"/api/laps?name=Bob: {api}")
        check(http_get(rig.port, "/api/laps?name=Nobody")[0] == 404, "an unknown driver's laps: 404")
        time.sleep(0.5)
        with open(os.path.join(OUT, "live-history.png"), "wb") as f:
            f.write(b.screenshot())
    finally:
        rig.close()


def scenario_tower():
    # Bob 0.6 s behind Ann (a battle); Cid, faster, passes Bob at 5 s and
    # Ann at 7 s, and his 7.3 s lap 2 is the session's first timed lap.
    names = ["Ann", "Bob", "Cid"]
    rig = ScriptedRig(names, [lambda t: 700 + 100 * t, lambda t: 640 + 100 * t, lambda t: 490 + 130 * t],
                      width=1920, height=1080)
    try:
        b = rig.open("/overlay?rows=8&side=left&show=interval&focus=Bob",
                     "return document.querySelectorAll('#rows li').length == 3")
        b.cdp("Emulation.setDeviceMetricsOverride", {"width": 1920, "height": 1080, "deviceScaleFactor": 1,
                                                      "mobile": False})
        b.cdp("Emulation.setDefaultBackgroundColorOverride", {"color": {"r": 0, "g": 0, "b": 0, "a": 0}})
        tower = """return [...document.querySelectorAll('#rows li')].map(li => ({name: li.dataset.name,
            value: li.querySelector('.value').textContent, classes: li.className, arrow: li.dataset.arrow || ''}));"""
        rows = lambda: {r["name"]: r for r in b.js(tower)}
        def battle():
            r = rows()
            ok = len(r) == 3 and "battle" in r["Ann"]["classes"] and "battle" in r["Bob"]["classes"] and \
                r["Bob"]["value"] and near(seconds(r["Bob"]["value"]), 0.6)
            return r if ok else None
        r = wait_until(battle, 20, "Ann and Bob marked as a battle, Bob +0.600 behind", 0.1)
        check("focus" in r["Bob"]["classes"] and "focus" not in r["Ann"]["classes"], f"Bob followed: {r}")
        time.sleep(0.3)
        png = b.screenshot()
        with open(os.path.join(OUT, "live-tower-transparent.png"), "wb") as f:
            f.write(png)
        width, height, pixel = read_png(png)
        check((width, height) == (1920, 1080) and pixel(1000, 500)[3] == 0, "still a transparent 1920x1080 layer")
        subprocess.run(["convert", "-size", "1920x1080", "gradient:#2c5d8a-#7aa35a",
                        os.path.join(OUT, "live-tower-transparent.png"), "-composite",
                        os.path.join(OUT, "live-tower.png")], check=False)
        # Cid passes Bob: arrows up and down for five seconds.
        wait_until(lambda: rows()["Cid"]["arrow"] == "up" and rows()["Bob"]["arrow"] == "down", 15,
                   "Cid's arrow up and Bob's down", 0.05)
        # Cid's lap 2 is the session's best: his row flashes.
        wait_until(lambda: "best-flash" in rows()["Cid"]["classes"], 15, "Cid's best lap flashed", 0.05)
        wait_until(lambda: not rows()["Cid"]["arrow"], 10, "the arrows gone after five seconds", 0.2)
        # Two rows with Bob third: he takes the second.
        b.go(f"http://127.0.0.1:{rig.port}/overlay?rows=2&focus=Bob")
        wait_until(lambda: [x["name"] for x in b.js(tower)] == ["Cid", "Bob"], 10, "the leader and Bob, followed")
    finally:
        rig.close()


def scenario_restart():
    # The page stays open while gridscope-live stops and starts again on the
    # same port: its event lines start again from 1, and the log shows them.
    rig = Rig(cars=4, laps=20, scale=10, delays=())
    port = free_port()
    live_args = [LIVE, "--server", f"127.0.0.1:{rig.race_port}", "--admin", ADMIN, "--http", f"127.0.0.1:{port}",
                 "--files", RUN]
    live = rig.start(live_args)
    live.port()
    browser = WebDriver()
    try:
        browser.go(f"http://127.0.0.1:{port}/")
        seqs = lambda: browser.js("return [...document.querySelectorAll('#events li')].map(l => +l.dataset.seq)")
        wait_until(lambda: len(seqs()) >= 4, 40, "four event lines")
        before = max(seqs())
        live.stop()
        wait_until(lambda: "No connection" in browser.js("return document.getElementById('link').textContent"), 10,
                   "the page telling gridscope-live is gone")
        rig.start(live_args).port()
        wait_until(lambda: seqs() and max(seqs()) < before, 20, "the log replaced by the new lines")
        restarted = max(seqs())
        wait_until(lambda: max(seqs()) > restarted, 40, "new lines after the restart")
        print(f"log: up to line {before}, then from 1 again, now up to {max(seqs())}")
    finally:
        browser.quit()
        rig.close()


SCENARIOS = {"race": scenario_race, "silence": scenario_silence, "names": scenario_names, "overlay": scenario_overlay,
             "delay": scenario_delay, "robust": scenario_robust, "timing": scenario_timing, "tower": scenario_tower,
             "restart": scenario_restart}

if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    started = time.monotonic()
    try:
        SCENARIOS[SCENARIO]()
    except Failure as e:
        print(f"FAILED {SCENARIO}: {e}")
        sys.exit(1)
    print(f"PASSED {SCENARIO} in {time.monotonic() - started:.1f} s")
