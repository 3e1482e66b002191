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
  silence  the tool keeps trying until the race server is up; the page says
           when the race server goes silent and when it is back
  robust   paths outside the page, junk, an over-long header, a slow client
           and a thousand idle connections are refused or dropped while a
           browser keeps its updates
"""

import os
import re
import signal
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser import (Failure, Process, UdpSpectator, WebDriver, check, free_port, http_get, raw_request,
                     read_png, wait_until)

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
            done = [r[1] for r in rows if r[6]]
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
        wait_until(lambda: len(browser.js(ROWS_JS)) == 4, 10, "four rows")
        # The race server stops answering: the page says so, then recovers.
        server.proc.send_signal(signal.SIGSTOP)
        wait_until(lambda: link() == "The race server is silent", 8, "the page telling the race server is silent")
        server.proc.send_signal(signal.SIGCONT)
        wait_until(lambda: link() == "Live", 8, "the page live again")
        events = browser.js("return [...document.querySelectorAll('#events li')].map(l => l.textContent)")
        check(any("The race server is silent" in e for e in events), f"the silence in the log: {events}")
    finally:
        if browser:
            browser.quit()
        if server:
            server.proc.send_signal(signal.SIGCONT)
            server.stop()
        live.stop()


SCENARIOS = {"race": scenario_race, "silence": scenario_silence, "names": scenario_names, "overlay": scenario_overlay,
             "delay": scenario_delay, "robust": scenario_robust}

if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    started = time.monotonic()
    try:
        SCENARIOS[SCENARIO]()
    except Failure as e:
        print(f"FAILED {SCENARIO}: {e}")
        sys.exit(1)
    print(f"PASSED {SCENARIO} in {time.monotonic() - started:.1f} s")
