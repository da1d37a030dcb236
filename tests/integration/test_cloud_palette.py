"""The point-cloud palette through `veldra bridge cloud` (and `veldra cloud`) against the fixture
server: estimates, downloads to an E57 file, cancellation, refusals. Tiles are LAS files the test
writes around a frame of about 210 m x 220 m in PL-2000 zone 7; expectations come from PROJ."""

import os
import re
import time

import pytest

import cloudfiles
from cloudfiles import frame_grid as grid, in_frame
from fixture import Session, private_env, serve, veldra
import test_fetch_pipeline as fp

FRAME = [fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH]
AREA = (fp.MAX_X - fp.MIN_X) * (fp.MAX_Y - fp.MIN_Y)   # PL-1992 m², by PROJ
CANCELLED = "Anulowano."


def las_tile(tmp, name, pts, epsg="EPSG:2180"):
    return cloudfiles.las_tile(tmp / name, pts, epsg, fmt=3)


def routes_for(files, entries, density=12, index_kw=None, tile_kw=None):
    entries = [(cloudfiles.LIDAR_TILES + name, uklad) for name, uklad in entries]
    return ([fp.route(cloudfiles.LIDAR_INDEX, cloudfiles.lidar_index(entries, density), **(index_kw or {}))] +
            [fp.route("/opendata/lidar/" + name, body_file=name, name=name, **(tile_kw or {}).get(name, {}))
             for name in files])


class Palette(Session):
    """`veldra bridge cloud` in a private home, its data folder under it."""

    def __init__(self, fx, home, project=None, env=None):
        super().__init__(["bridge", "cloud"] + (["--project", project] if project else []),
                         {**fx.env(), **private_env(home), "XDG_DATA_HOME": str(home / "data"), **(env or {})})


def download(tmp_path, files, entries, home, env=None, **detail):
    """The palette after one download of the frame from the tiles of entries, its input closed."""
    with serve(tmp_path, routes_for(files, entries), files) as fx:
        p = Palette(fx, home, env=env)
        p.send({"type": "download", "bboxWgs84": FRAME, **detail})
        p.close()
    return p


def is_type(t):
    return lambda m: m.get("type") == t


def diag(home):
    return (home / "diag" / "orvane_cloud_diag.txt").read_text(encoding="utf-8").splitlines()


def target(home):
    return home / "data" / "Orvane_Cloud" / "ostatnia_chmura.e57"


def temp_file(home):
    return home / "tmp" / f"veldra-{os.getuid()}" / "Orvane_Cloud" / "import.e57"


def test_immediate_and_late_estimates_only_the_newest_frame_reaches_the_page(tmp_path):
    # The index is slow, so every request is made before the first query has its answer; one
    # worker asks the index for the first request it finds and then only for the newest waiting one.
    details = ["lekki"] + ["standard"] * 8 + ["full"]
    with serve(tmp_path, routes_for({}, [("a.laz", "PL-1992")], density=20,
                                    index_kw={"delay_ms": 600, "name": "index"})) as fx:
        p = Palette(fx, tmp_path / "home")
        for d in details:
            p.send({"type": "frameEstimate", "bboxWgs84": FRAME, "detail": d})
        seen = p.close()
        queries = fx.stats()["routes"]["index"]
    est = [m for m in seen if m["type"] == "estimateDone"]
    cases = [(d, 12, 4 if d == "lekki" else 12) for d in details] + [("full (late)", 20, 20)]
    assert len(est) == len(cases) and queries <= 2, (queries, seen)
    for m, (detail, density, per_m2) in zip(est, cases):   # a 0.5 m voxel keeps 4 points per m²
        assert m == {"type": "estimateDone", "density": density, "points": pytest.approx(AREA * per_m2, rel=1e-5),
                     "sizeMB": pytest.approx(m["points"] * 16 / 1e6), "overLimit": False}, detail


def test_downloads_before_and_after_the_origin_is_set_on_the_map(tmp_path):
    pts = grid(step=5.0)
    files = {"a.las": las_tile(tmp_path, "a.las", pts)}
    home, project = tmp_path / "home", tmp_path / "projekt.json"
    with serve(tmp_path, routes_for(files, [("a.las", "PL-1992")]), files) as fx:
        p = Palette(fx, home, project=project)
        p.send({"type": "getInit"})   # a project without georeference: no answer
        p.send({"type": "download", "bboxWgs84": FRAME, "detail": "standard"})
        done = p.until(is_type("downloadDone"))
        unreferenced, answered_so_far = diag(home), list(p.seen)
        p.send({"type": "setOrigin", "lat": 51.501, "lon": 21.5015})
        origin = p.until(is_type("originSet"))
        p.send({"type": "getInit"})
        init = p.until(is_type("init"))
        p.send({"type": "download", "bboxWgs84": FRAME, "detail": "lekki"})
        again = p.until(is_type("downloadDone"))
        p.close()
    assert not [m for m in answered_so_far if m["type"] == "init"]
    labels = [m["label"] for m in answered_so_far if m["type"] == "progress"]
    assert labels[0] == "Pobieranie skorowidza LiDAR" and labels[-1] == "Przetwarzanie kafli LiDAR"
    assert any(re.fullmatch(r"Kafel 1/1: [\d,]+ (B|KB|MB) / [\d,]+ (B|KB|MB)", l) for l in labels), labels
    path = str(target(home))
    assert done == again == {"type": "downloadDone", "ok": True,
                             "msg": f"Chmura zapisana: {path} - zaimportuj: Plik > Interoperacyjnosc > Chmura punktow."}
    assert target(home).stat().st_size > 0 and not temp_file(home).exists()

    assert unreferenced[1] == f"punktow={len(in_frame(pts))} placeEpsg=2178"
    # Without a georeference the origin is the frame's lowest corner in the zone.
    corners = fp.to_east_north("EPSG:2180", "EPSG:2178", [(y, x) for x in (fp.MIN_X, fp.MAX_X) for y in (fp.MIN_Y, fp.MAX_Y)])
    off = re.fullmatch(r"\[CHMURA\] offset\(rog kadru PL-2000\) offE=(\S+) offN=(\S+)", unreferenced[2])
    assert [float(v) for v in off.groups()] == pytest.approx([min(c[k] for c in corners) for k in (0, 1)], abs=0.05)
    assert re.fullmatch(r"\[CHMURA\] Z bezwzgledne\(npm\) z\[100\.\d+\.\.102\.\d+\]", unreferenced[4]), unreferenced[4]
    assert unreferenced[5].startswith("[PROJEKT] survey point quality=0 ")
    assert unreferenced[7].startswith("--- oczekiwany rozjazd")

    # The origin from the map becomes the cloud's origin.
    (e, n), = fp.to_east_north("EPSG:4326", "EPSG:2178", [(51.501, 21.5015)])
    assert (origin["e"], origin["n"]) == (pytest.approx(e, abs=0.01), pytest.approx(n, abs=0.01))
    assert (init["lat"], init["lon"]) == (pytest.approx(51.501, abs=1e-7), pytest.approx(21.5015, abs=1e-7))
    lines = diag(home)
    assert lines[2] == f"[CHMURA] offset(rog kadru PL-2000) offE={origin['e']:.3f} offN={origin['n']:.3f}"
    assert lines[5].startswith(f"[PROJEKT] survey point quality=2 east={origin['e']:.3f} north={origin['n']:.3f} ")
    assert lines[5].endswith(" epsg=2178")
    assert "Orvane Cloud: ustawiono georeferencje projektu: E=" in p.report
    assert "EPSG:2178" in project.read_text()


@pytest.mark.parametrize("case,entries,files,msg", [
    ("no tiles", [], {}, "Brak danych LiDAR dla tego obszaru."),
    ("every tile failing", [("missing.las", "PL-1992"), ("html.las", "PL-1992")], {"html.las": b"<html>busy</html>"},
     "Nie udalo sie pobrac zadnego kafla LiDAR dla tego obszaru."),
    ("no point in the frame", [("far.las", "PL-1992")], "far", "Brak punktow w wybranym obszarze (po przycieciu do kadru)."),
])
def test_failed_downloads_end_in_one_message(tmp_path, case, entries, files, msg):
    if files == "far":
        files = {"far.las": las_tile(tmp_path, "far.las", [(fp.MIN_X - 500, fp.MIN_Y, 100.0)])}
    home = tmp_path / "home"
    p = download(tmp_path, files, entries, home)
    assert p.of_type("downloadDone") == [{"type": "downloadDone", "ok": False, "msg": msg}], case
    assert not target(home).exists() and not temp_file(home).exists()


def test_tiles_of_another_zone_are_clipped_to_the_frame(tmp_path):
    pts = grid(step=3.0)
    files = {"z6.las": las_tile(tmp_path, "z6.las", pts, epsg="EPSG:2177")}
    home = tmp_path / "home"
    assert download(tmp_path, files, [("z6.las", "PL-2000:S6")], home, detail="full").of_type("downloadDone")[0]["ok"]
    assert diag(home)[1] == f"punktow={len(in_frame(pts))} placeEpsg=2178"


def slow_tile(tmp_path, name="slow.las"):
    """A tile of about 300 KB served in 2 KB pieces every 50 ms (about 7 s)."""
    return {name: las_tile(tmp_path, name, grid(step=1.0))}, {name: {"chunk_size": 2048, "chunk_delay_ms": 50}}


def test_cancel_during_a_transfer(tmp_path):
    files, slow = slow_tile(tmp_path)
    home = tmp_path / "home"
    with serve(tmp_path, routes_for(files, [("slow.las", "PL-1992")], tile_kw=slow), files) as fx:
        p = Palette(fx, home)
        p.send({"type": "download", "bboxWgs84": FRAME})
        p.until(lambda m: m.get("cancellable") is True)
        started = time.time()
        p.send({"type": "cancel"})
        done = p.until(is_type("downloadDone"), timeout=30)
        took = time.time() - started
        p.close()
    assert p.of_type("cancelled") == [{"type": "cancelled"}]
    assert done == {"type": "downloadDone", "ok": False, "msg": CANCELLED}
    assert took < 4, took   # the transfer was abandoned, not waited out
    assert not temp_file(home).exists() and not target(home).exists()


def test_cancel_between_tiles_stops_before_the_next_one(tmp_path):
    files = {n: las_tile(tmp_path, n, grid(step=4.0)) for n in ("t1.las", "t2.las", "t3.las")}
    entries = [(n, "PL-1992") for n in files]
    home = tmp_path / "home"
    # The second tile's server answers late, so the cancel lands before its first byte.
    with serve(tmp_path, routes_for(files, entries, tile_kw={"t2.las": {"delay_ms": 3000}}), files) as fx:
        p = Palette(fx, home)
        p.send({"type": "download", "bboxWgs84": FRAME})
        p.until(lambda m: m.get("label") == "Przetwarzanie kafli LiDAR")
        p.send({"type": "cancel"})
        done = p.until(is_type("downloadDone"), timeout=30)
        p.close()
        routes = fx.stats()["routes"]
    assert done["msg"] == CANCELLED and not done["ok"]
    assert routes.get("t1.las") == 1 and routes.get("t3.las", 0) == 0


def test_a_second_download_while_one_runs_is_refused(tmp_path):
    files, slow = slow_tile(tmp_path)
    slow["slow.las"]["chunk_delay_ms"] = 10
    home = tmp_path / "home"
    with serve(tmp_path, routes_for(files, [("slow.las", "PL-1992")], tile_kw=slow), files) as fx:
        p = Palette(fx, home)
        p.send({"type": "cancel"})   # while idle: only sets the flag, the next download clears it
        p.send({"type": "download", "bboxWgs84": FRAME, "detail": "lekki"})
        p.send({"type": "download", "bboxWgs84": FRAME, "detail": "lekki"})
        p.until(is_type("error"))
        p.close()
    assert p.of_type("error") == [{"type": "error", "msg": "Trwa pobieranie danych - sprobuj za chwile"}]
    assert [m["ok"] for m in p.of_type("downloadDone")] == [True]


def test_an_unwritable_data_folder_fails_the_download(tmp_path):
    files = {"a.las": las_tile(tmp_path, "a.las", grid(step=5.0))}
    home = tmp_path / "home"
    blocker = tmp_path / "not-a-folder"
    blocker.write_text("x")
    p = download(tmp_path, files, [("a.las", "PL-1992")], home, env={"XDG_DATA_HOME": str(blocker)})
    path = blocker / "Orvane_Cloud" / "ostatnia_chmura.e57"
    assert p.of_type("downloadDone") == [
        {"type": "downloadDone", "ok": False, "msg": f"Nie udalo sie zapisac chmury punktow w {path}."}]
    assert not temp_file(home).exists()


@pytest.mark.parametrize("bbox", [[21.5, 51.5, 21.503], ["21.5", "51.5", "21.503", "51.502"], None])
def test_a_malformed_frame_is_refused(tmp_path, bbox):
    with serve(tmp_path, []) as fx:
        p = Palette(fx, tmp_path / "home")
        for t in ("frameEstimate", "download"):
            p.send({"type": t, **({"bboxWgs84": bbox} if bbox is not None else {})})
        p.close()
        assert fx.stats()["total"] == 0
    assert p.seen == [{"type": "error", "msg": "Nieprawidlowy bbox"}] * 2


def test_the_command_prints_estimate_and_progress(tmp_path):
    # What it wrote, and that it is clipped to the frame, the interop download test reads back.
    files = {"a.las": las_tile(tmp_path, "a.las", grid(step=5.0))}
    out = tmp_path / "out.e57"
    with serve(tmp_path, routes_for(files, [("a.las", "PL-1992")], density=7), files) as fx:
        r = veldra("cloud", "--bbox", ",".join(map(str, FRAME)), "--detail", "full", "--out", out,
                   env={**fx.env(), **private_env(tmp_path / "home")})
    assert r.returncode == 0, r.stderr
    first = r.stdout.splitlines()[0]
    assert re.fullmatch(r"estimate (\d+) points [\d.]+ MB density 7\.00", first)
    assert int(first.split()[1]) == pytest.approx(AREA * 7, rel=1e-5)
    assert "Kafel 1/1" in r.stderr and out.stat().st_size > 0


def test_the_cloud_is_written_in_a_folder_of_this_user_alone(tmp_path):
    files = {"a.las": las_tile(tmp_path, "a.las", grid(step=5.0))}
    home = tmp_path / "home"
    planted = home / "tmp" / "Orvane_Cloud"   # a shared folder another local user could make first
    planted.mkdir(parents=True)
    planted.chmod(0o777)
    work = temp_file(home).parent.parent
    with serve(tmp_path, routes_for(files, [("a.las", "PL-1992")]), files) as fx:
        p = Palette(fx, home)
        p.send({"type": "download", "bboxWgs84": FRAME, "detail": "lekki"})
        first = p.until(is_type("downloadDone"))
        work.chmod(0o777)
        p.send({"type": "download", "bboxWgs84": FRAME, "detail": "lekki"})
        p.until(is_type("downloadDone"))
        p.close()
    assert first["ok"] and not any(planted.iterdir()), first
    assert p.of_type("downloadDone")[1] == {"type": "downloadDone", "ok": False, "msg":
        f"Blad zapisu E57: folder {work} is open to other users (mode 0777); refusing to use it"}
    assert not temp_file(home).exists()
