"""`veldra ui` as a process: port conflicts, stopping on signals, its work folder (bad arguments are in
test_bad_input)."""
import json
import os
import re
import signal
import subprocess
import tempfile
import time
import urllib.request

import pytest

from fixture import VELDRA_BIN, private_env, veldra


class Ui:
    """`veldra ui` in a private home, stopped (and checked to end cleanly) on exit."""

    def __init__(self, args=("--no-browser", "--show-map"), prefix=(), env=None):
        self.home = tempfile.mkdtemp(prefix="veldra_ui_")
        self.proc = subprocess.Popen([*prefix, VELDRA_BIN, "ui", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True, env=private_env(self.home, **(env or {})))
        m = re.match(r"host: (http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/host/host\.html)$",
                     self.proc.stdout.readline().strip())
        assert m, self.proc.stderr.read() if self.proc.poll() is not None else "no address"
        self.url, self.port, self.token = m.group(1), int(m.group(2)), m.group(3)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.send_signal(signal.SIGTERM)
        try:
            assert self.proc.wait(timeout=20) == 0
        finally:
            if self.proc.poll() is None:
                self.proc.kill()


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM])
def test_serves_until_signalled_then_saves_the_project(sig, tmp_path):
    project = tmp_path / "p.json"
    with Ui(["--project", str(project)]) as ui:
        with urllib.request.urlopen(ui.url, timeout=5) as r:
            assert r.status == 200 and b"<script>" in r.read()
        # The system browser got a private page leading to the host window: the token never
        # stands on a command line other users can read.
        log = os.path.join(ui.home, "opened.txt")
        for _ in range(50):
            if os.path.exists(log):
                break
            time.sleep(0.1)
        with open(log) as f:
            opened = f.read().strip()
        assert opened.startswith("file:///") and ui.url not in opened
        page = opened[len("file://"):]
        assert os.stat(page).st_mode & 0o777 == 0o600
        assert os.stat(os.path.dirname(page)).st_mode & 0o777 == 0o700
        with open(page) as f:
            assert 'url=' + ui.url + '"' in f.read()
        ui.proc.send_signal(sig)
        assert ui.proc.wait(timeout=10) == 0
    assert json.loads(project.read_text())["format"] == "veldra-project"


def test_a_busy_port_is_reported():
    with Ui() as first:
        second = veldra("ui", "--no-browser", "--port", first.port, env=private_env(first.home), timeout=30)
        assert second.returncode == 1
        assert f"cannot listen on 127.0.0.1:{first.port}" in second.stderr


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
    env = private_env(home)
    work = os.path.join(env["TMPDIR"], f"veldra-{os.geteuid()}")
    os.makedirs(os.path.join(work, "web"), mode=0o700)
    planted = os.path.join(work, "web", "map.js")
    with open(planted, "w") as f:
        f.write("planted")
    spoil(work)
    p = subprocess.run([VELDRA_BIN, "ui", "--no-browser"], capture_output=True, text=True, env=env, timeout=30)
    assert p.returncode == 1 and "refusing to use it" in p.stderr, p.stderr
    with open(planted) as f:
        assert f.read() == "planted"
