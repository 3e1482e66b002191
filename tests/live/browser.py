"""What the browser tests of gridscope-live share: the processes they start
(race server, gridscope-live, chromedriver), a small WebDriver client for
headless Chromium, a plain spectator that joins the race server over UDP
with packets written from the layout, and a PNG reader for screenshots.
Standard library only."""

import base64
import json
import math
import os
import re
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import urllib.error
import urllib.request
import zlib


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, what, interval=0.1):
    deadline = time.monotonic() + timeout
    last = None
    while time.monotonic() < deadline:
        last = predicate()
        if last:
            return last
        time.sleep(interval)
    raise Failure(f"timed out after {timeout} s waiting for {what} (last: {last!r})")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Process:
    """A child whose first output line names its port: "... listening on 127.0.0.1:PORT ..."."""

    def __init__(self, argv, cwd=None):
        self.argv = argv
        self.log = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(argv, cwd=cwd, stdout=self.log, stderr=subprocess.STDOUT)

    def output(self):
        self.log.seek(0)
        return self.log.read().decode("utf-8", "replace")

    def port(self, timeout=10):
        def find():
            check(self.proc.poll() is None, f"{self.argv[0]} ended early:\n{self.output()}")
            m = re.search(r"listening on [^ ]*:(\d+)", self.output())
            return int(m.group(1)) if m else None
        return wait_until(find, timeout, f"the port of {os.path.basename(self.argv[0])}")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def http_get(port, path, headers=None, timeout=5):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=timeout) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def raw_request(port, data, timeout=5):
    """Sends bytes as they are and returns what comes back until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        out = b""
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                out += chunk
                if b"\r\n\r\n" in out and b"Content-Length" not in out:
                    break
                m = re.search(rb"Content-Length: *(\d+)", out, re.I)
                if m and len(out) >= out.index(b"\r\n\r\n") + 4 + int(m.group(1)):
                    break
        except (ConnectionResetError, socket.timeout):
            pass
        return out


class WebDriver:
    """Headless Chromium through chromedriver's W3C WebDriver HTTP interface."""

    def __init__(self, width=1600, height=1000):
        self.port = free_port()
        self.driver = subprocess.Popen(["chromedriver", f"--port={self.port}"], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        wait_until(self._ready, 15, "chromedriver")
        args = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                f"--window-size={width},{height}", "--hide-scrollbars", "--force-device-scale-factor=1",
                "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                "--disable-backgrounding-occluded-windows", "--no-first-run", "--disable-extensions"]
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": {
            "binary": "/usr/bin/chromium", "args": args}}}}
        self.session = self._call("POST", "/session", caps)["sessionId"]

    def _ready(self):
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/status", timeout=1) as r:
                return json.load(r)["value"].get("ready")
        except OSError:
            return False

    def _call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as r:
                return json.load(r)["value"]
        except urllib.error.HTTPError as e:
            raise Failure(f"WebDriver {method} {path}: {e.read().decode()[:500]}")

    def go(self, url):
        self._call("POST", f"/session/{self.session}/url", {"url": url})

    def js(self, script, *args):
        return self._call("POST", f"/session/{self.session}/execute/sync", {"script": script, "args": list(args)})

    def cdp(self, command, params):
        return self._call("POST", f"/session/{self.session}/goog/cdp/execute", {"cmd": command, "params": params})

    def screenshot(self):
        return base64.b64decode(self._call("GET", f"/session/{self.session}/screenshot"))

    def quit(self):
        try:
            self._call("DELETE", f"/session/{self.session}")
        except Exception:
            pass
        self.driver.terminate()
        try:
            self.driver.wait(5)
        except subprocess.TimeoutExpired:
            self.driver.kill()


class UdpSpectator:
    """A bare spectator of the race server: the init packet and keep-alives
    written from the packet layouts, and the names of the result packets in
    the order they arrive."""

    def __init__(self, port, admin=b""):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.connect(("127.0.0.1", port))
        self.sock.setblocking(False)
        init = b"ISI\0" + b"\0\0" + b"\x31" + b"\0" + admin.ljust(16, b"\0")[:16]
        self.sock.send(init)
        self.results = []
        self.last_ack = time.monotonic()

    def poll(self):
        if time.monotonic() - self.last_ack > 5:
            self.sock.send(b"ACK\0" + struct.pack("<I", 0))
            self.last_ack = time.monotonic()
        while True:
            try:
                d = self.sock.recv(65536)
            except BlockingIOError:
                return
            if d[:3] == b"RES" and len(d) >= 103:
                name = d[28:52].split(b"\0")[0]
                self.results.append(re.sub(rb"\^.", b"", name).decode("cp1252", "replace"))
            elif d[:3] == b"RST":
                self.results = []

    def watch_laps(self):
        """From now on, a thread notes when each lap packet arrives: its lap
        time as the log writes it ("1:23.45") and the wall-clock time in ms."""
        self.laps = []
        self.watching = True

        def run():
            self.sock.setblocking(True)
            self.sock.settimeout(0.2)
            while self.watching:
                try:
                    d = self.sock.recv(65536)
                except socket.timeout:
                    continue
                except OSError:
                    return
                at = time.time() * 1000
                if d[:3] == b"LAP" and len(d) >= 89:
                    self.laps.append((f"{d[84]}:{d[85]:02d}.{d[86]:02d}", at))
                if time.monotonic() - self.last_ack > 5:
                    self.sock.send(b"ACK\0" + struct.pack("<I", 0))
                    self.last_ack = time.monotonic()
        self.thread = threading.Thread(target=run, daemon=True)
        self.thread.start()

    def close(self):
        if getattr(self, "thread", None):
            self.watching = False
            self.thread.join()
        self.sock.send(b"ISC\0" + struct.pack("<I", 0))
        self.sock.close()


def read_png(data):
    """(width, height, rows of RGBA tuples) of an 8-bit RGB or RGBA PNG."""
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG")
    at, idat, width = 8, b"", 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            check(depth == 8 and colour in (2, 6), f"PNG depth {depth} colour {colour}")
            channels = 4 if colour == 6 else 3
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev, pos = [], bytearray(stride), 0
    for _ in range(height):
        f, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    def pixel(x, y):
        px = rows[y][x * channels:(x + 1) * channels]
        return tuple(px) if channels == 4 else tuple(px) + (255,)
    return width, height, pixel


def read_path(path):
    """Node count, finish node and each node's (x, y) fixed-point position and
    heading of a path file: a 16-byte header, then 40 bytes a node."""
    data = open(path, "rb").read()
    check(len(data) >= 16, f"{path}: no header")
    count = data[8] | data[9] << 8
    finish = data[12] | data[13] << 8
    check(3 <= count and finish < count and len(data) >= 16 + 40 * count, f"{path}: {count} nodes do not fit")
    nodes = []
    for i in range(count):
        x, y, _, dx, dy = struct.unpack_from("<iiiff", data, 16 + 40 * i)
        nodes.append((x, y, math.atan2(dy, dx)))
    return count, finish, nodes


class ScriptedRaceServer:
    """A race server played by the test, every packet written from the
    layouts: the handshake's answers, and ten times a second the car info of
    drivers who follow scripts along a path file's nodes. A script gives a
    driver's place at a time since the start: nodes from the finish node,
    lap 1 from 0 to the node count; the drivers stand at their places for
    time 0 until go() starts the clock. Each crossing of the line sends a
    lap packet."""

    def __init__(self, path, track, names, scripts, mode=1):
        self.count, self.finish, self.nodes = read_path(path)
        self.track, self.names, self.scripts, self.mode = track, names, scripts, mode
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.005)
        self.port = self.sock.getsockname()[1]
        self.peer = None
        self.start = None
        self.laps = {}
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    @staticmethod
    def packet(kind, size):
        b = bytearray(size)
        b[0:3] = kind
        return b

    def send(self, b):
        if self.peer:
            self.sock.sendto(bytes(b), self.peer)

    def greet(self):
        ver = self.packet(b"VER", 19)
        ver[18] = 1
        self.send(ver)
        self.state()
        ism = self.packet(b"ISM", 40)
        ism[8:8 + 11] = b"^1Scripted "
        self.send(ism)
        for slot, name in enumerate(self.names):
            npl = self.packet(b"NPL", 97)
            npl[28:28 + len(name)] = name.encode("cp1252")
            npl[60:63] = b"XRT"
            npl[96] = slot
            self.send(npl)

    def state(self):
        sta = self.packet(b"STA", 26)
        sta[12] = len(self.names)
        sta[15] = self.mode
        sta[20:20 + len(self.track)] = self.track.encode()
        self.send(sta)

    def place(self, slot, t):
        return self.scripts[slot](t)

    def car_info(self, t):
        for first in range(0, len(self.names), 8):
            cars = self.names[first:first + 8]
            mci = self.packet(b"MCI", 12 + 24 * len(cars))
            mci[8], mci[9] = len(self.names), first
            for k in range(len(cars)):
                place = self.place(first + k, t)
                whole = int(math.floor(place))
                node = (whole + self.finish) % self.count
                x, y, direction = self.nodes[node]
                heading = int(round((direction - math.pi / 2) / (2 * math.pi) * 65536)) % 65536
                struct.pack_into("<HBxiiiHxxHxx", mci, 12 + 24 * k, node, whole // self.count + 1, x, y, 0,
                                 int(150 / 0.011), heading)
            self.send(mci)
        # A lap packet for each crossing since the last car info, timed from
        # the crossing before (or the start).
        for slot, name in enumerate(self.names):
            lap = int(self.place(slot, t) // self.count)
            before, since = self.laps.get(slot, (lap, 0.0))
            self.laps[slot] = (lap, t if lap > before else since)
            if lap > before:
                hundredths = int(round((t - since) * 100))
                packet = self.packet(b"LAP", 92)
                packet[52:55] = b"XRT"
                packet[84], packet[85], packet[86] = min(hundredths // 6000, 255), hundredths // 100 % 60, hundredths % 100
                packet[88] = slot
                self.send(packet)

    def run(self):
        next_at = time.monotonic()
        while self.running:
            try:
                d, peer = self.sock.recvfrom(65536)
                if d[:3] == b"ISI":
                    self.peer = peer
                    self.greet()
                elif d[:3] == b"SST":
                    self.state()
            except socket.timeout:
                pass
            now = time.monotonic()
            if self.peer and now >= next_at:
                self.car_info(self.elapsed())
                next_at = max(next_at + 0.1, now - 0.05)

    def go(self):
        self.start = time.monotonic()

    def elapsed(self):
        return time.monotonic() - self.start if self.start is not None else 0

    def stop(self):
        self.running = False
        self.thread.join()
        self.sock.close()
