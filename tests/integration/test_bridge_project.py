"""`veldra bridge map --project FILE`: the palette's answers that depend on the project."""
import json
import os
import tempfile

from bridge_cli import run_bridge


def make_project(edit=None):
    """A project file made by the program itself, then changed by `edit(dict)`."""
    d = tempfile.mkdtemp(prefix="veldra_proj_")
    path = os.path.join(d, "projekt.json")
    r = run_bridge([], project=path)
    assert r.returncode == 0, r.stderr
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    if edit:
        edit(data)
        with open(path, "w", encoding="utf-8") as f:
            json.dump(data, f, ensure_ascii=False)
    return path


def add_layers(data):
    layers = data["attributes"]["layers"]
    top = max(l["index"] for l in layers)
    layers.append({"index": top + 1, "name": "GIS_DZIALKI"})
    layers.append({"index": top + 2, "name": "Elewacje \u0142\u00f3dzkie"})


def test_get_layers_lists_the_project_layers_in_host_order():
    path = make_project(add_layers)
    r = run_bridge([{"type": "getLayers"}], project=path)
    assert r.returncode == 0, r.stderr
    [reply] = r.messages
    assert reply["type"] == "layerList"
    assert reply["layers"][-2:] == ["GIS_DZIALKI", "Elewacje \u0142\u00f3dzkie"]
    assert reply["mapping"]["poziomicechmura3d"] == "GIS_POZIOMICE_CHMURA_3D"
    assert len(reply["mapping"]) == 20


def test_get_init_with_a_survey_point_in_a_pl2000_zone():
    def georef(data):
        g = data["geolocation"]
        g["crsName"] = "ETRF2000-PL / CS2000/21 (EPSG:2178)"
        # 52.2297 N 21.0122 E in zone 7 (checked with PROJ cs2cs).
        g["surveyEasting"] = 7500833.512
        g["surveyNorthing"] = 5788456.487
    path = make_project(georef)
    r = run_bridge([{"type": "getInit"}], project=path)
    [init] = r.messages
    assert init["type"] == "init" and init["zoom"] == 17
    assert abs(init["lat"] - 52.2297) < 1e-4
    assert abs(init["lon"] - 21.0122) < 1e-4


def test_corrupt_project_file_is_refused_and_left_untouched():
    d = tempfile.mkdtemp(prefix="veldra_proj_")
    path = os.path.join(d, "projekt.json")
    with open(path, "w") as f:
        f.write('{"format": "veldra-project", "version": 1, "attrib')
    before = open(path, "rb").read()
    r = run_bridge([{"type": "ping"}], project=path)
    assert r.returncode != 0
    assert r.messages == []
    assert r.stderr.strip() != ""
    assert open(path, "rb").read() == before


def test_project_survives_a_session_unchanged():
    path = make_project(add_layers)
    before = json.load(open(path, encoding="utf-8"))
    r = run_bridge([{"type": "getLayers"}, {"type": "fetch", "bboxWgs84": [21.0, 52.2, 21.01, 52.21]}], project=path)
    assert r.returncode == 0
    after = json.load(open(path, encoding="utf-8"))
    assert after["attributes"] == before["attributes"]
    assert after["elements"] == before["elements"]


def test_project_that_cannot_be_written_is_reported_after_the_session():
    d = tempfile.mkdtemp(prefix="veldra_proj_")
    blocker = os.path.join(d, "plik")
    with open(blocker, "w") as f:
        f.write("not a folder")
    path = os.path.join(blocker, "projekt.json")   # its folder is a regular file
    r = run_bridge([{"type": "ping"}, {"type": "getLayers"}], project=path)
    # The session itself is served; the failed save is reported and fails the run.
    assert [m["type"] for m in r.messages] == ["pong", "layerList"]
    assert r.returncode != 0
    assert r.stderr.strip()
    assert open(blocker).read() == "not a folder"
