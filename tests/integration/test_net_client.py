"""The service client and the fixture server as separate processes."""

import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

from fixture import VELDRA_BIN, MockServices, serve, veldra, write_manifest

LIDAR_INDEX = "https://mapy.geoportal.gov.pl/wss/service/PZGIK/DanePomiaroweLidarEVRF2007/WFS/Skorowidze"


def fetch(fx, *args, env=None):
    return veldra("fetch", *args, env=env or fx.env(), timeout=30)


@pytest.mark.parametrize("url, endpoints, message", [
    ("https://wms.powiat.example.pl/wfs?x=1", None, "error Brak polaczenia z wms.powiat.example.pl"),
    (LIDAR_INDEX, "{not json", "error Nieprawidlowa konfiguracja VELDRA_ENDPOINTS: {bad}"),
], ids=["unlisted-host", "broken-endpoints-file"])
def test_refused_address_or_broken_endpoints_file_fails_closed(tmp_path, url, endpoints, message):
    bad = tmp_path / "bad.json"
    bad.write_text(endpoints or "")
    with serve(tmp_path, []) as fx:
        r = fetch(fx, url, env=fx.env({"VELDRA_ENDPOINTS": str(bad)} if endpoints else {}))
        assert r.returncode == 1 and message.format(bad=bad) in r.stdout, r.stdout
        assert fx.stats()["total"] == 0


def test_cached_download_is_reused_by_the_next_process(tmp_path):
    with serve(tmp_path, [{"path": "/opendata/p.zip", "body_size": 500000}]) as fx:
        url = "https://opendata.geoportal.gov.pl/p.zip"
        first = fetch(fx, url, "--cached")
        assert first.returncode == 0, first.stdout + first.stderr
        path = Path(first.stdout.split(" ", 1)[1].strip())
        assert path.stat().st_size == 500000
        assert path.parent == tmp_path / "cache-home" / "VELDRA" / "cache"
        second = fetch(fx, url, "--cached")
        assert (second.stdout, second.stderr) == (first.stdout, "")  # no progress: nothing was downloaded
        assert fx.stats()["total"] == 1


def test_killed_download_never_looks_complete(tmp_path):
    with serve(tmp_path, [{"name": "laz", "path": "/opendata/t.laz", "responses": [
            {"body_size": 2000000, "stall_after": 300000, "stall_ms": 30000}, {"body_size": 2000000}]}]) as fx:
        url = "https://opendata.geoportal.gov.pl/t.laz"
        cache = tmp_path / "cache-home" / "VELDRA" / "cache"
        p = subprocess.Popen([VELDRA_BIN, "fetch", url, "--cached"], env=fx.env(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.time() + 10
        while time.time() < deadline:
            parts = [f for f in cache.glob("*") if ".part." in f.name] if cache.exists() else []
            if parts and parts[0].stat().st_size >= 200000:
                break
            time.sleep(0.05)
        p.send_signal(signal.SIGKILL)
        p.wait()
        names = [f.name for f in cache.iterdir()]
        assert len(names) == 1 and ".zip.part." in names[0], names
        leftover = cache / names[0]

        # A fresh partial file may be another process's download in flight: it stays.
        again = fetch(fx, url, "--cached")
        assert again.returncode == 0, again.stdout + again.stderr
        final = Path(again.stdout.split(" ", 1)[1].strip())
        assert final.stat().st_size == 2000000
        assert sorted(f.name for f in cache.iterdir()) == sorted([final.name, leftover.name])
        assert fx.stats()["routes"]["laz"] == 2

        # Once older than any download runs, it is a leftover and the next process sweeps it.
        old = time.time() - 2 * 3600
        os.utime(leftover, (old, old))
        third = fetch(fx, url, "--cached")
        assert third.returncode == 0, third.stdout + third.stderr
        assert [f.name for f in cache.iterdir()] == [final.name]
        assert fx.stats()["routes"]["laz"] == 2   # the complete file came from the cache


def test_mock_services_prints_port_and_stops_on_signals_or_closed_stdin(tmp_path):
    root = write_manifest(tmp_path / "fx", [])
    for stop in (signal.SIGTERM, signal.SIGINT, None):
        p = subprocess.Popen([VELDRA_BIN, "mock-services", "--root", str(root), "--port", "0"]
                             + ([] if stop else ["--exit-on-stdin-eof"]),
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = p.stdout.readline()
        assert line.startswith("PORT ") and int(line.split()[1]) > 0
        if stop:
            p.send_signal(stop)
        else:
            p.stdin.close()
        assert p.wait(timeout=5) == 0, stop
        p.stdin.close()


def test_mock_services_refuses_bad_input(tmp_path):
    bad = str(write_manifest(tmp_path / "bad", [{"path": "/a", "body_file": "../../etc/passwd"}]))
    good = write_manifest(tmp_path / "good", [])
    with MockServices(good, tmp_path / "w") as fx:
        for args, code, message in [([bad], 1, "body_file"), ([str(tmp_path / "none")], 1, "manifest.json"),
                                    ([bad, "--port", "70000"], 2, ""),
                                    ([str(good), "--port", str(fx.port)], 1, f"127.0.0.1:{fx.port}")]:
            r = subprocess.run([VELDRA_BIN, "mock-services", "--root", *args], capture_output=True, text=True, timeout=10)
            assert r.returncode == code and message in r.stderr, (args, r.stderr)
