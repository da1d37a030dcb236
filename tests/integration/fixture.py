"""Black-box test helpers: `veldra mock-services` on a free loopback port, `veldra bridge map` fed
line by line, and a private environment for every veldra process.

    from fixture import serve

    def test_x(tmp_path):
        with serve(tmp_path, [{"path": "/mapy/wss/...", "body": "..."}]) as fx:
            subprocess.run([VELDRA_BIN, ...], env=fx.env())
            assert fx.stats()["total"] == 1

The server writes a strict VELDRA_ENDPOINTS file sending every public service
origin to http://127.0.0.1:PORT/<alias> (aliases: mapy, integracja, opendata,
rejestr, uldk, photon, nominatim, overpass, overpass2, openfreemap); any other
address is refused, so a test can never reach a public service. Extra origins
(county services) are added with extra_rewrites=[("https://powiat.example", "powiat")].
The server exits when this process closes its stdin, so it never outlives the test.
"""

import collections
import json
import os
import select
import subprocess
import tempfile
import time
import urllib.request
from pathlib import Path

import pytest

VELDRA_BIN = os.environ.get("VELDRA_BIN", "veldra")
SHARED = Path(os.environ.get("VELDRA_SHARED_DATA", "/work/shared/data"))
SOLID_CHECK = Path(VELDRA_BIN).resolve().parent.parent / "tests" / "solid_check"
NODE_DIR = Path(os.environ.get("VELDRA_NODE_DIR", Path(__file__).parents[1] / "node"))


def shared_file(rel):
    """A recorded answer or sample of the shared data folder; the test is skipped without it."""
    if not (SHARED / rel).exists():
        pytest.skip(f"shared sample missing: {SHARED / rel}")
    return SHARED / rel


def read_dxf(path):
    """A drawing read by ezdxf, checked to audit clean, and its entity count per (layer, type)."""
    import ezdxf
    drawing = ezdxf.readfile(path)
    auditor = drawing.audit()
    assert not auditor.has_errors, [str(e.message) for e in auditor.errors]
    return drawing, collections.Counter((e.dxf.layer, e.dxftype()) for e in drawing.modelspace())


def dxf_heights(drawing):
    """Layer -> the height of every vertex of the drawing's polyline meshes (face records left out)."""
    heights = collections.defaultdict(list)
    for e in drawing.modelspace().query("POLYLINE"):
        heights[e.dxf.layer] += [v.dxf.location.z for v in e.vertices if not v.is_face_record]
    return heights


def solid_checks(glb):
    """What CGAL (tests/solid_check) and manifold-3d say of each body of a GLB, one dict per body;
    an empty list for a checker that is not there."""
    def run(*argv):
        out = subprocess.run([*map(str, argv), str(glb)], capture_output=True, text=True, timeout=600).stdout
        return [json.loads(line) for line in out.splitlines()]
    cgal = run(SOLID_CHECK) if SOLID_CHECK.exists() else []
    with_manifold = (NODE_DIR / "node_modules" / "manifold-3d").exists()
    return cgal, run("node", NODE_DIR / "manifold_check.mjs") if with_manifold else []


def veldra(*args, timeout=300, **kw):
    """Runs the program to its end, its output captured as text."""
    return subprocess.run([VELDRA_BIN, *map(str, args)], capture_output=True, text=True, timeout=timeout, **kw)


# For a process whose memory a test measures: the sanitizer build keeps freed memory in a
# quarantine of up to 256 MB, which would be measured with it; a small one leaves the measure to
# what the program itself holds.
SMALL_QUARANTINE = {"ASAN_OPTIONS": ":".join(o for o in (os.environ.get("ASAN_OPTIONS", ""), "quarantine_size_mb=16") if o)}


def private_env(home, **extra):
    """Environment for a veldra process whose settings, cache, temporary files, diagnostics and
    opened addresses stay under home."""
    home = str(home)
    os.makedirs(os.path.join(home, "tmp"), exist_ok=True)
    return {**os.environ, "XDG_CONFIG_HOME": os.path.join(home, "config"), "XDG_CACHE_HOME": os.path.join(home, "cache"),
            "TMPDIR": os.path.join(home, "tmp"), "VELDRA_DIAG_DIR": os.path.join(home, "diag"),
            "VELDRA_OPEN_LOG": os.path.join(home, "opened.txt"), "XDG_RUNTIME_DIR": "", **extra}


def write_manifest(root, routes, files=None):
    """Writes root/manifest.json (and optional body files {name: bytes|str}); returns root."""
    root = Path(root)
    root.mkdir(parents=True, exist_ok=True)
    (root / "manifest.json").write_text(json.dumps({"routes": routes}), encoding="utf-8")
    for name, data in (files or {}).items():
        p = root / name
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(data if isinstance(data, bytes) else data.encode("utf-8"))
    return root


class MockServices:
    def __init__(self, root, workdir, extra_rewrites=()):
        self.root, self.workdir = Path(root), Path(workdir)
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.endpoints_file = self.workdir / "endpoints.json"
        self.extra_rewrites = list(extra_rewrites)
        self.proc = self.port = None

    def __enter__(self):
        self.proc = subprocess.Popen(
            [VELDRA_BIN, "mock-services", "--root", str(self.root), "--port", "0",
             "--exit-on-stdin-eof", "--write-endpoints", str(self.endpoints_file)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10.0)
        line = self.proc.stdout.readline().decode() if ready else ""
        if not line.startswith("PORT "):
            self.__exit__()
            err = self.proc.stderr.read().decode(errors="replace")
            raise RuntimeError(f"mock-services did not start: {line!r} {err}")
        self.port = int(line.split()[1])
        if self.extra_rewrites:
            table = json.loads(self.endpoints_file.read_text())
            extra = [[origin, f"http://127.0.0.1:{self.port}/{alias}"] for origin, alias in self.extra_rewrites]
            table["rewrite"] = extra + table["rewrite"]
            self.endpoints_file.write_text(json.dumps(table))
        return self

    def env(self, extra=None):
        """Environment for a veldra process: rewrites, no host spacing, private data folders."""
        proxies = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}
        return {**{k: v for k, v in os.environ.items() if k not in proxies}, "VELDRA_ENDPOINTS": str(self.endpoints_file),
                "VELDRA_HOST_SPACING_MS": "0", "XDG_CACHE_HOME": str(self.workdir / "cache-home"),
                "XDG_CONFIG_HOME": str(self.workdir / "config-home"), **(extra or {})}

    def stats(self):
        """{"total", "unmatched", "routes": {name: count}, "requests": [...]}"""
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(f"http://127.0.0.1:{self.port}/__stats", timeout=5) as r:
            return json.loads(r.read().decode())

    def __exit__(self, *exc):
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def serve(tmp_path, routes, files=None, extra=()):
    """The fixture server for routes (and body files) written under tmp_path/fx."""
    return MockServices(write_manifest(tmp_path / "fx", routes, files), tmp_path, extra_rewrites=list(extra))


class BridgeRun:
    """What `veldra bridge map` answered to lines (str or dict): its exit status, the answers as
    sent (raw) and parsed (messages), and its report (stderr)."""

    def __init__(self, lines, project=None, env=None, home=None):
        args = [VELDRA_BIN, "bridge", "map"] + (["--project", project] if project else [])
        text = "".join((l if isinstance(l, str) else json.dumps(l)) + "\n" for l in lines)
        p = subprocess.run(args, input=text.encode("utf-8"), capture_output=True, timeout=120,
                           env={**private_env(home or tempfile.mkdtemp(prefix="veldra_home_")), **(env or {})})
        self.returncode, self.stderr = p.returncode, p.stderr.decode("utf-8", "replace")
        self.raw = p.stdout.decode("ascii").splitlines()  # the channel is pure ASCII by contract
        self.messages = [json.loads(line) for line in self.raw if line.strip()]

    def of_type(self, t):
        return [m for m in self.messages if m.get("type") == t]


class Session:
    """A veldra process (`bridge map`, `bridge cloud`) fed one message at a time; its answers are
    read as they come, every one kept in seen, its report (standard error) in report at the end."""

    def __init__(self, args, env):
        self.proc = subprocess.Popen([VELDRA_BIN, *map(str, args)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.seen, self.report, self.pending = [], "", b""

    def send(self, msg):
        self.proc.stdin.write((json.dumps(msg) + "\n").encode())
        self.proc.stdin.flush()

    def until(self, pred, timeout=60):
        """Messages read until one satisfies pred (returned). The pipe is read in raw pieces: a
        buffered reader could hold lines that select no longer sees."""
        end = time.time() + timeout
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                self.seen.append(json.loads(line))
                if pred(self.seen[-1]):
                    return self.seen[-1]
            ready, _, _ = select.select([self.proc.stdout], [], [], max(0.0, end - time.time()))
            piece = os.read(self.proc.stdout.fileno(), 1 << 16) if ready else b""
            if not piece:
                raise AssertionError(f"no such message; seen {self.seen[-5:]}")
            self.pending += piece

    def converse(self, steps, timeout=300):
        """Sends each message once the one before is answered (by a type of its set); the answers."""
        answers = []
        for msg, types in steps:
            self.send(msg)
            answers.append(self.until(lambda m, types=types: m.get("type") in types, timeout=timeout))
        return answers

    def close(self):
        """End of input: the rest of the messages once running work is over."""
        out, err = self.proc.communicate(timeout=120)
        self.seen += [json.loads(line) for line in (self.pending + out).decode().splitlines() if line.strip()]
        self.report = err.decode("utf-8", "replace")
        assert self.proc.returncode == 0, self.report
        return self.seen

    def of_type(self, t):
        return [m for m in self.seen if m.get("type") == t]


run_bridge = BridgeRun
