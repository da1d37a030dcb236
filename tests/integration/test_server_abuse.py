"""The loopback server of `veldra ui` under abuse: a page that sends without reading, connections
that exhaust the descriptors, a request with two Host headers. The host window must still answer."""
import base64
import os
import re
import signal
import socket
import struct
import subprocess
import tempfile
import time
import urllib.request

from test_ui_cli import env_for
from bridge_cli import veldra_bin


def start_ui(prefix=()):
    home = tempfile.mkdtemp(prefix="veldra_abuse_")
    p = subprocess.Popen([*prefix, veldra_bin(), "ui", "--no-browser"], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, env=env_for(home))
    m = re.match(r"host: (http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/host/host\.html)$", p.stdout.readline().strip())
    assert m, p.stderr.read() if p.poll() is not None else "no address"
    return p, m.group(1), int(m.group(2)), m.group(3)


def stop(p):
    p.send_signal(signal.SIGTERM)
    try:
        assert p.wait(timeout=20) == 0
    finally:
        if p.poll() is None:
            p.kill()


def host_window_answers(url, within=5.0):
    with urllib.request.urlopen(url, timeout=within) as r:
        return r.status == 200 and b"<script>" in r.read()


def status_of(port, request):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(request)
        return int(s.recv(4096).split(b" ", 2)[1])


def proc_value(pid, key):
    with open(f"/proc/{pid}/status") as f:
        return int(next(line.split()[1] for line in f if line.startswith(key + ":")))  # kB


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def ws_frame(text):
    data, mask = text.encode(), os.urandom(4)
    head = struct.pack("!BB", 0x81, 0x80 | len(data)) if len(data) < 126 else struct.pack("!BBH", 0x81, 0xFE, len(data))
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data))


def test_two_host_headers_are_refused():
    p, url, port, token = start_ui()
    try:
        good = f"GET /{token}/host/host.html HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n".encode()
        assert status_of(port, good + b"\r\n") == 200
        assert status_of(port, good + b"Host: evil.example\r\n\r\n") == 400
        assert status_of(port, good + f"Host: 127.0.0.1:{port}\r\n\r\n".encode()) == 400
        assert host_window_answers(url)
    finally:
        stop(p)


def test_a_page_that_never_reads_is_cut_off_and_memory_stays_bounded():
    p, url, port, token = start_ui()
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=5)
        key = base64.b64encode(os.urandom(16)).decode()
        s.sendall(f"GET /{token}/ws/host HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                  f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n".encode())
        assert b" 101 " in s.recv(4096)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # replies pile up on the server's side
        s.settimeout(1.0)
        burst = ws_frame("not json") * 2000
        start_rss, deadline, closed = proc_value(p.pid, "VmRSS"), time.time() + 12, False
        while time.time() < deadline and not closed:
            try:
                s.sendall(burst)
            except socket.timeout:
                pass  # the server stopped reading: its work queue is full
            except (BrokenPipeError, ConnectionResetError):
                closed = True
        s.close()
        grown_mb = (proc_value(p.pid, "VmHWM") - start_rss) / 1024
        assert grown_mb < 200, f"server grew by {grown_mb:.0f} MB"
        assert host_window_answers(url)
        # Nothing left to chew on once the client is gone.
        time.sleep(1)
        before = cpu_seconds(p.pid)
        time.sleep(2)
        assert cpu_seconds(p.pid) - before < 0.5
    finally:
        stop(p)


def test_out_of_descriptors_the_server_neither_spins_nor_stops_answering():
    p, url, port, _ = start_ui(prefix=("prlimit", "--nofile=64"))
    idle = []
    try:
        for _ in range(120):
            idle.append(socket.create_connection(("127.0.0.1", port), timeout=5))
        time.sleep(0.5)
        before = cpu_seconds(p.pid)
        assert host_window_answers(url, within=5)
        time.sleep(2)
        assert cpu_seconds(p.pid) - before < 1.0
    finally:
        for s in idle:
            s.close()
        stop(p)
