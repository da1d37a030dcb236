"""`veldra ui` as a process: arguments, port conflicts, stopping on signals."""
import json
import os
import re
import signal
import subprocess
import tempfile
import time
import urllib.request

import pytest

from bridge_cli import veldra_bin


def env_for(home):
    e = dict(os.environ)
    e.update({
        "TMPDIR": os.path.join(home, "tmp"),
        "XDG_CONFIG_HOME": os.path.join(home, "config"),
        "XDG_CACHE_HOME": os.path.join(home, "cache"),
        "VELDRA_DIAG_DIR": os.path.join(home, "diag"),
        "VELDRA_OPEN_LOG": os.path.join(home, "opened.txt"),
        "XDG_RUNTIME_DIR": "",
    })
    os.makedirs(e["TMPDIR"], exist_ok=True)
    return e


def start(args, home):
    p = subprocess.Popen([veldra_bin(), "ui", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True, env=env_for(home))
    line = p.stdout.readline()
    return p, line


@pytest.mark.parametrize("args", [["--port"], ["--port", "70000"], ["--port", "x"], ["--project"], ["--nope"]])
def test_bad_arguments(args):
    p = subprocess.run([veldra_bin(), "ui", *args], capture_output=True, text=True, timeout=30)
    assert p.returncode == 2
    assert "usage: veldra ui" in p.stderr


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM])
def test_serves_until_signalled_then_saves_the_project(sig):
    home = tempfile.mkdtemp(prefix="veldra_ui_")
    project = os.path.join(home, "p.json")
    p, line = start(["--project", project], home)
    try:
        m = re.match(r"host: (http://127\.0\.0\.1:(\d+)/[0-9a-f]{32}/host/host\.html)$", line.strip())
        assert m, line
        with urllib.request.urlopen(m.group(1), timeout=5) as r:
            assert r.status == 200
            assert b"<script>" in r.read()
        # The system browser got a private page leading to the host window: the token never
        # stands on a command line other users can read.
        log = os.path.join(home, "opened.txt")
        for _ in range(50):
            if os.path.exists(log):
                break
            time.sleep(0.1)
        with open(log) as f:
            opened = f.read().strip()
        assert opened.startswith("file:///") and m.group(1) not in opened
        page = opened[len("file://"):]
        assert os.stat(page).st_mode & 0o777 == 0o600
        assert os.stat(os.path.dirname(page)).st_mode & 0o777 == 0o700
        with open(page) as f:
            assert 'url=' + m.group(1) + '"' in f.read()
        p.send_signal(sig)
        assert p.wait(timeout=10) == 0
    finally:
        if p.poll() is None:
            p.kill()
    with open(project) as f:
        assert json.load(f)["format"] == "veldra-project"


def test_a_busy_port_is_reported():
    home = tempfile.mkdtemp(prefix="veldra_ui_")
    first, line = start(["--no-browser"], home)
    try:
        port = re.search(r":(\d+)/", line).group(1)
        second = subprocess.run([veldra_bin(), "ui", "--no-browser", "--port", port], capture_output=True,
                                text=True, timeout=30, env=env_for(home))
        assert second.returncode == 1
        assert "cannot listen on 127.0.0.1:" + port in second.stderr
    finally:
        first.send_signal(signal.SIGTERM)
        first.wait(timeout=10)


def _open_to_all(d):
    os.chmod(d, 0o777)


def _someone_elses(d):
    os.chown(d, 65534, 65534)


def _a_link(d):
    os.rename(d, d + "-real")
    os.symlink(d + "-real", d)


@pytest.mark.parametrize("spoil", [_open_to_all, _someone_elses, _a_link])
def test_a_work_folder_made_by_someone_else_is_refused(spoil):
    if spoil is _someone_elses and os.geteuid() != 0:
        pytest.skip("giving a folder away needs root")
    home = tempfile.mkdtemp(prefix="veldra_ui_")
    env = env_for(home)
    work = os.path.join(env["TMPDIR"], f"veldra-{os.geteuid()}")
    os.makedirs(os.path.join(work, "web"), mode=0o700)
    planted = os.path.join(work, "web", "map.js")
    with open(planted, "w") as f:
        f.write("planted")
    spoil(work)
    p = subprocess.run([veldra_bin(), "ui", "--no-browser"], capture_output=True, text=True, env=env, timeout=30)
    assert p.returncode == 1 and "refusing to use it" in p.stderr, p.stderr
    with open(planted) as f:
        assert f.read() == "planted"
