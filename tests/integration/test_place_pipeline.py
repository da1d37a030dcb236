"""Fetch, set the origin and place through one `veldra bridge map --project` session against
`veldra mock-services`; the saved project file is then inspected."""

import json

import pytest

from fixture import Session, private_env, serve
import test_fetch_pipeline as fp

LAT, LON = (fp.SOUTH + fp.NORTH) / 2, (fp.WEST + fp.EAST) / 2


def session(project, fx, home, origin=True, layers=(), place=True, **params):
    """One `veldra bridge map --project` session, each message sent once the one before is answered:
    set the origin, fetch the frame with layers, place. Gives the answers by type (originSet or
    error, fetchDone, placeDone or error), every message seen and the report (standard error)."""
    s = Session(["bridge", "map", "--project", project], {**private_env(home), **fx.env()})
    steps = [({"type": "setOrigin", "lat": LAT, "lon": LON}, {"originSet", "error"})] if origin else []
    if layers:
        steps.append(({"type": "fetch", "bboxWgs84": [fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH], "layers": list(layers),
                       **params}, {"fetchDone"}))
    steps += [({"type": "place"}, {"placeDone", "error"})] if place else []
    answers = s.converse(steps)
    return answers, s.close(), s.report


def routes():
    """Two parcels and a building of the Lublin county, one NMT sheet."""
    nmt = fp.nmt(fp.asc_ramp())
    return fp.egib_routes([("d1", 0, 0), ("d2", 20, 0)], [("b1", 0, 30)], []) + nmt["routes"], nmt["files"]


def test_fetch_set_origin_place_and_the_saved_project(tmp_path):
    project = tmp_path / "projekt.json"
    with serve(tmp_path, *routes(), extra=[fp.LUBLIN]) as fx:
        (origin, done, placed), _, err = session(project, fx, tmp_path / "home", layers=["dzialki", "budynki", "teren"],
                                                 terrainStep=5)
    assert origin["type"] == "originSet" and origin["epsg"] == 2178, origin
    assert done["counts"]["dzialki"] == 2, done
    assert placed["type"] == "placeDone", placed
    assert (placed["counts"]["dzialki"], placed["counts"]["budynki"], placed["counts"]["teren (Siatka)"]) == (2, 1, 1)
    assert "VELDRA: ustawiono georeferencje projektu: E=" in err
    assert "VELDRA: wektory w lokalnych wsp. X[" in err

    p = json.loads(project.read_text(encoding="utf-8"))
    outline = next(e for e in p["elements"] if e["type"] == 20)
    # The height worker found the sheet and wrote the height (ramp: about 100 m + 0.05 m/m).
    geo = p["geolocation"]
    assert geo["crsName"] == "EPSG:2178"
    assert 99.0 < geo["surveyHeight"] < 120.0
    # The first corner of parcel d1 as the fixture writes it (PL-1992, two decimals) lands where PROJ
    # puts it, relative to the survey point, within 1 mm.
    [(e, n)] = fp.to_east_north("EPSG:2180", "EPSG:2178", [(float(f"{fp.CY - 5:.2f}"), float(f"{fp.CX - 5:.2f}"))])
    want = [e - geo["surveyEasting"], n - geo["surveyNorthing"]]
    assert outline["memo"]["points"][:2] == pytest.approx(want, abs=0.001), want


def test_place_without_georeference_is_refused_and_the_project_stays(tmp_path):
    project = tmp_path / "projekt.json"
    with serve(tmp_path, *routes(), extra=[fp.LUBLIN]) as fx:
        (_, first), _, _ = session(project, fx, tmp_path / "home", origin=False, layers=["dzialki"])
    assert first["type"] == "error" and first["msg"].startswith("Projekt nie ma georeferencji."), first
    p = json.loads(project.read_text(encoding="utf-8"))
    assert (p["elements"], [l["name"] for l in p["attributes"]["layers"]]) == ([], ["Domyslna"])
