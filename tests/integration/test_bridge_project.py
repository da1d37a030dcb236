"""`veldra bridge map --project FILE`: the palette's answers that depend on the project."""
import json

import pytest

from fixture import run_bridge


def make_project(tmp_path, edit=None):
    """A project file made by the program itself, then changed by `edit(dict)`."""
    path = tmp_path / "projekt.json"
    r = run_bridge([], project=path)
    assert r.returncode == 0, r.stderr
    data = json.loads(path.read_text(encoding="utf-8"))
    if edit:
        edit(data)
        path.write_text(json.dumps(data, ensure_ascii=False), encoding="utf-8")
    return path


def add_layers(data):
    layers = data["attributes"]["layers"]
    top = max(l["index"] for l in layers)
    layers.append({"index": top + 1, "name": "GIS_DZIALKI"})
    layers.append({"index": top + 2, "name": "Elewacje \u0142\u00f3dzkie"})


def test_get_init_with_a_survey_point_in_a_pl2000_zone(tmp_path):
    def georef(data):
        g = data["geolocation"]
        g["crsName"] = "ETRF2000-PL / CS2000/21 (EPSG:2178)"
        # 52.2297 N 21.0122 E in zone 7 (checked with PROJ cs2cs).
        g["surveyEasting"] = 7500833.512
        g["surveyNorthing"] = 5788456.487
    path = make_project(tmp_path, georef)
    r = run_bridge([{"type": "getInit"}], project=path)
    [init] = r.messages
    assert (init["type"], init["zoom"]) == ("init", 17)
    assert (init["lat"], init["lon"]) == (pytest.approx(52.2297, abs=1e-4), pytest.approx(21.0122, abs=1e-4))


def test_layers_listed_in_host_order_and_the_project_survives_a_session_unchanged(tmp_path):
    path = make_project(tmp_path, add_layers)
    before = json.load(open(path, encoding="utf-8"))
    r = run_bridge([{"type": "getLayers"}, {"type": "fetch", "bboxWgs84": [21.0, 52.2, 21.01, 52.21]}], project=path)
    assert r.returncode == 0, r.stderr
    [reply] = r.of_type("layerList")
    assert reply["layers"][-2:] == ["GIS_DZIALKI", "Elewacje \u0142\u00f3dzkie"]
    after = json.load(open(path, encoding="utf-8"))
    assert (after["attributes"], after["elements"]) == (before["attributes"], before["elements"])


def test_project_that_cannot_be_written_is_reported_after_the_session(tmp_path):
    blocker = tmp_path / "plik"
    blocker.write_text("not a folder")
    r = run_bridge([{"type": "ping"}, {"type": "getLayers"}], project=str(blocker / "projekt.json"))   # its folder is a file
    # The session itself is served; the failed save is reported and fails the run.
    assert [m["type"] for m in r.messages] == ["pong", "layerList"]
    assert r.returncode != 0
    assert r.stderr.strip()
    assert blocker.read_text() == "not a folder"
