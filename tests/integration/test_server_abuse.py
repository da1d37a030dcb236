"""The loopback server of `veldra ui` against what a foreign page or program could send: requests
without the token or with a foreign Host or Origin, paths out of the web folder, WebSocket frames
no browser sends, a page that sends without reading, idle and unfinished connections. It refuses
them and the host window still answers."""
import base64
import contextlib
import json
import os
import re
import socket
import struct
import time

import pytest

import test_ui_cli
from fixture import SMALL_QUARANTINE

MALFORMED = "Nieprawidlowa wiadomosc z UI (JSON)"


class Ui(test_ui_cli.Ui):
    """The program with a map palette, and requests written by hand."""

    def raw(self, text):
        """(status, response) of a request written by hand."""
        data = b""
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            s.sendall(text.encode())
            with contextlib.suppress(socket.timeout):
                while chunk := s.recv(65536):
                    data += chunk
        return (int(data.split(b" ", 2)[1]) if data else 0), data.decode("latin1")

    def get(self, target, method="GET", **headers):
        """Headers given as None are left out."""
        h = {"Host": f"127.0.0.1:{self.port}", "Connection": "close", **headers}
        return self.raw(f"{method} {target} HTTP/1.1\r\n" + "".join(f"{k}: {v}\r\n" for k, v in h.items() if v is not None)
                        + "\r\n")

    def host_window_answers(self):
        code, text = self.get(f"/{self.token}/host/host.html")
        return code == 200 and "<script>" in text


class Socket:
    """A WebSocket client whose frames are built by hand, so a test can send what a browser never would."""

    def __init__(self, ui, mount="map", origin="own", token=None):
        origin = f"http://127.0.0.1:{ui.port}" if origin == "own" else origin
        self.s = socket.create_connection(("127.0.0.1", ui.port), timeout=5)
        self.s.sendall((f"GET /{token or ui.token}/ws/{mount} HTTP/1.1\r\nHost: 127.0.0.1:{ui.port}\r\n"
                        "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                        f"Sec-WebSocket-Key: {base64.b64encode(os.urandom(16)).decode()}\r\n"
                        + (f"Origin: {origin}\r\n" if origin else "") + "\r\n").encode())
        self.buf, self.messages, self.closed, self.close_code = b"", [], False, None
        while b"\r\n\r\n" not in self.buf and not self.closed:
            self._receive(time.time() + 5)
        head, _, self.buf = self.buf.partition(b"\r\n\r\n")
        self.status = int(head.split(b" ", 2)[1]) if head else 0

    @staticmethod
    def frame(payload, opcode=1, fin=True, mask=True):
        payload = payload.encode() if isinstance(payload, str) else payload
        n, m = len(payload), 0x80 if mask else 0
        head = bytes([(0x80 if fin else 0) | opcode]) + (
            bytes([m | n]) if n < 126 else struct.pack("!BH", m | 126, n) if n < 65536 else struct.pack("!BQ", m | 127, n))
        if not mask:
            return head + payload
        key = os.urandom(4)
        masked = int.from_bytes(payload, "big") ^ int.from_bytes((key * (n // 4 + 1))[:n], "big")
        return head + key + masked.to_bytes(n, "big")

    def send(self, payload, **kw):
        self.s.sendall(self.frame(payload, **kw))

    def _receive(self, until):
        self.s.settimeout(max(0.01, until - time.time()))
        try:
            chunk = self.s.recv(65536)
        except socket.timeout:
            return
        except OSError:
            chunk = b""
        self.closed = self.closed or not chunk
        self.buf += chunk

    def wait_for(self, pred, timeout=5.0):
        """The first text message pred accepts; None when the socket closed or the time ran out."""
        until = time.time() + timeout
        while True:
            while len(self.buf) >= 2:   # take the complete frames
                op, n, off = self.buf[0] & 15, self.buf[1] & 127, 2
                if n >= 126:
                    off = 4 if n == 126 else 10
                    if len(self.buf) < off:
                        break
                    n = int.from_bytes(self.buf[2:off], "big")
                if len(self.buf) < off + n:
                    break
                payload, self.buf = self.buf[off:off + n], self.buf[off + n:]
                if op == 1:
                    self.messages.append(json.loads(payload))
                if op == 8:
                    self.close_code = struct.unpack("!H", payload[:2])[0] if len(payload) >= 2 else 1005
            found = next((m for m in self.messages if pred(m)), None)
            if found or self.closed or time.time() > until:
                return found
            self._receive(until)


def malformed(m):
    return m == {"type": "error", "msg": MALFORMED}


@pytest.fixture(scope="module")
def ui():
    with Ui() as u:
        yield u


def proc_value(pid, key):
    with open(f"/proc/{pid}/status") as f:
        return int(next(line.split()[1] for line in f if line.startswith(key + ":")))  # kB


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_pages_need_the_token_the_own_host_and_the_own_origin(ui):
    page = f"/{ui.token}/map/map.html"
    code, text = ui.get(page)
    assert code == 200 and re.search("Referrer-Policy: no-referrer", text, re.I)
    assert "<head><script>" in text, "transport script is placed at the top of the page"
    for target, headers in [("/map/map.html", {}), (f"/{'0' * 32}/map/map.html", {}), (f"/{ui.token[:31]}/map/map.html", {}),
                            (page, {"Origin": "http://evil.example"}), (page, {"Host": "evil.example"}),
                            (page, {"Host": None})]:
        assert ui.get(target, **headers)[0] == 403, (target, headers)
    # Two Host headers, even both our own, are refused.
    good = f"GET {page} HTTP/1.1\r\nHost: 127.0.0.1:{ui.port}\r\n"
    assert ui.raw(good + "Host: evil.example\r\n\r\n")[0] == 400
    assert ui.raw(good + f"Host: 127.0.0.1:{ui.port}\r\n\r\n")[0] == 400
    assert ui.host_window_answers()


def test_nothing_outside_the_web_folder_is_served_in_any_spelling(ui):
    t = ui.token
    for target in [
        f"/{t}/map/../../../../etc/passwd", f"/{t}/map/%2e%2e/%2e%2e/%2e%2e/etc/passwd",
        f"/{t}/map/%2E%2E%2F%2E%2E%2Fetc%2Fpasswd", f"/{t}/map/..%2f..%2f..%2fetc%2fpasswd",
        f"/{t}/map//etc/passwd", f"/{t}/map/%2fetc%2fpasswd", f"/{t}/map/..\\..\\etc\\passwd",
        f"/{t}/map/%5c..%5c..%5cetc%5cpasswd", f"/{t}/map/./map.html", f"/{t}/map/map.html%00.png",
        f"/{t}/map/", f"/{t}/map", f"/{t}/nomount/map.html", f"/{t}/map/%zz", f"/{t}/../{t}/map/map.html",
    ]:
        code, text = ui.get(target)
        assert code in (400, 403, 404) and "root:" not in text, (target, code)
    assert ui.get(f"/{t}/map/map.js?v=1")[0] == 200
    assert ui.get(f"/{t}/map/map.html", method="POST", **{"Content-Length": "0"})[0] == 405


def test_a_websocket_from_a_foreign_origin_or_without_the_token_never_reaches_the_bridge(ui):
    for ws in (Socket(ui, origin="http://evil.example"), Socket(ui, token="x" * 32)):
        assert ws.status == 403
        with contextlib.suppress(OSError):
            ws.send(json.dumps({"type": "openExternal", "url": "https://evil.example/"}))
    time.sleep(0.3)
    assert not os.path.exists(os.path.join(ui.home, "opened.txt"))


def test_oversize_and_invalid_utf8_texts_are_answered_as_malformed_and_the_connection_lives_on(ui):
    ws = Socket(ui)
    assert ws.status == 101
    ws.send(b'{"\xc3("}')
    assert ws.wait_for(malformed), "invalid UTF-8 answered"
    ws.messages.clear()
    ws.send('{"type":"ping","pad":""}')
    ws.send(b"\xed\xa0\x80")   # an encoded surrogate
    ws.send(b"\xc0\xaf")       # an overlong '/'
    assert ws.wait_for(lambda m: m["type"] == "pong")
    ws.wait_for(lambda m: False, 0.2)
    assert len([m for m in ws.messages if malformed(m)]) == 2
    ws.messages.clear()
    # 3 MiB announced and sent in fragments: discarded as it arrives.
    chunk = b"a" * (1 << 20)
    ws.send(chunk, fin=False)
    ws.send(chunk, opcode=0, fin=False)
    ws.send(chunk, opcode=0)
    assert ws.wait_for(malformed, 10), "oversize answered"
    ws.send(b"hi", opcode=9)   # a ping frame
    ws.send(json.dumps({"type": "ping"}))
    assert ws.wait_for(lambda m: m["type"] == "pong"), "still connected after oversize"
    assert not ws.closed


def test_an_unmasked_frame_is_a_protocol_error_that_closes_only_that_socket(ui):
    ws = Socket(ui, "host")
    ws.send("{}", mask=False)
    ws.wait_for(lambda m: False, 1.5)
    assert ws.close_code == 1002
    again = Socket(ui, "host")
    again.send(json.dumps({"type": "hostState"}))
    assert again.wait_for(lambda m: m["type"] == "hostState")


def test_a_client_that_never_finishes_its_request_is_dropped_by_the_read_time_out(ui):
    with socket.create_connection(("127.0.0.1", ui.port), timeout=25) as s:
        started = time.monotonic()
        s.sendall(f"GET /{ui.token}/map/map.html HTTP/1.1\r\nHost: 127.0.0.1:{ui.port}\r\n".encode())
        while s.recv(4096):
            pass
        closed_after = time.monotonic() - started
    assert 10 < closed_after < 20, closed_after
    assert ui.get(f"/{ui.token}/map/map.css")[0] == 200


def test_a_page_that_never_reads_is_cut_off_and_memory_stays_bounded():
    with Ui(env=SMALL_QUARANTINE) as u:
        ws = Socket(u, "host", origin=None)
        assert ws.status == 101
        s = ws.s
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # replies pile up on the server's side
        s.settimeout(1.0)
        burst = Socket.frame("not json") * 2000
        start_rss, deadline, closed = proc_value(u.proc.pid, "VmRSS"), time.time() + 12, False
        while time.time() < deadline and not closed:
            try:
                s.sendall(burst)
            except socket.timeout:
                pass  # the server stopped reading: its work queue is full
            except (BrokenPipeError, ConnectionResetError):
                closed = True
        s.close()
        grown_mb = (proc_value(u.proc.pid, "VmHWM") - start_rss) / 1024
        assert grown_mb < 100, f"server grew by {grown_mb:.0f} MB"
        assert u.host_window_answers()
        # Nothing left to chew on once the client is gone.
        time.sleep(1)
        before = cpu_seconds(u.proc.pid)
        time.sleep(2)
        assert cpu_seconds(u.proc.pid) - before < 0.5


def test_out_of_descriptors_the_server_neither_spins_nor_stops_answering():
    idle = []
    with Ui(prefix=("prlimit", "--nofile=64")) as u:
        try:
            for _ in range(120):
                idle.append(socket.create_connection(("127.0.0.1", u.port), timeout=5))
            time.sleep(0.5)
            before = cpu_seconds(u.proc.pid)
            assert u.host_window_answers()
            time.sleep(2)
            assert cpu_seconds(u.proc.pid) - before < 1.0
        finally:
            for s in idle:
                s.close()
