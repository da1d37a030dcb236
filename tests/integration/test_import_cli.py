"""`veldra import`: the map page's fetch and place without a browser."""
import json
import os
import tempfile

import pytest

from fixture import private_env, read_dxf, serve, veldra
import test_fetch_pipeline as fp
from test_place_pipeline import LAT, LON, routes

FRAME = ["--bbox", "21,52,21.01,52.01", "--layers", "dzialki", "--project", "p.json"]


def run_import(args, home=None, timeout=120):
    home = home or tempfile.mkdtemp(prefix="veldra_import_")
    endpoints = os.path.join(home, "endpoints.json")
    with open(endpoints, "w") as f:
        json.dump({"rewrite": [], "strict": True}, f)   # no public service is ever reached
    p = veldra("import", *args, timeout=timeout, env=private_env(home, VELDRA_ENDPOINTS=endpoints))
    return p, home


@pytest.mark.parametrize("args, reason", [
    ([], "required"),
    (["--bbox", "21,52,21.1", "--layers", "dzialki", "--project", "p.json"], "exactly four"),
    (["--bbox", "21.1,52,21,52.1", "--layers", "dzialki", "--project", "p.json"], "west < east"),
    (["--bbox", "21,52,nan,52.1", "--layers", "dzialki", "--project", "p.json"], "not a number"),
    (["--bbox", "21,52,21.01,52.01", "--layers", ",", "--project", "p.json"], "at least one key"),
    (["--bbox", "21,52,21.01,52.01", "--layers", "teren", "--terrain-step", "3", "--project", "p.json"], "1, 2 or 5"),
    (["--bbox", "21,52,21.01,52.01", "--layers", "teren", "--raster-scale", "1e3x", "--project", "p.json"], "number"),
    (["--bbox", "21,52,21.01,52.01", "--layers", "teren", "--contour-cut", "0.3", "--project", "p.json"], "0.25"),
    (["--bbox", "21,52,21.01,52.01", "--layers", "teren", "--project"], "needs a file"),
    (["--bogus"], "unknown option"),
    (FRAME + ["--origin", "52.1,abc"], "not a number"),
    (FRAME + ["--origin", "52.1,21,100"], "two numbers"),
    (FRAME + ["--origin", "52.1,"], "two numbers"),
    (FRAME + ["--origin", "91,21"], "-90..90"),
    (FRAME + ["--origin"], "LAT,LON or center"),
])
def test_bad_arguments_are_refused_before_any_work(args, reason):
    p, home = run_import(args)
    assert p.returncode == 2
    assert reason in p.stderr
    assert "usage: veldra import" in p.stderr
    assert not os.path.exists(os.path.join(home, "p.json"))


@pytest.mark.parametrize("more, said, unsaid", [
    # Offline: the controller's notes, and each export named as not written.
    (["--layers", "dzialki,budynki", "--origin", "center", "--gltf", "o.glb"],
     ["fetched: ", "notes: ", "progress: ", "nothing was fetched", "DXF not written: the import failed",
      "glTF not written: the import failed"], []),
    # A project without georeference needs --origin before anything is fetched.
    (["--layers", "dzialki"], ["--origin"], ["fetched", "progress"]),
], ids=["offline", "no-georeference"])
def test_a_failed_import_writes_no_project_or_export(more, said, unsaid):
    home = tempfile.mkdtemp(prefix="veldra_import_")
    out = {n: os.path.join(home, n) for n in ("p.json", "o.dxf", "o.glb")}
    args = ["--bbox", "21.0,52.2,21.01,52.21", "--project", "p.json", "--dxf", "o.dxf", *more]
    p, _ = run_import([out.get(a, a) for a in args], home=home)
    text = p.stdout + p.stderr
    assert p.returncode == 1 and all(s in text for s in said) and not any(s in text for s in unsaid), text
    assert not any(os.path.exists(f) for f in out.values())


@pytest.mark.parametrize("origin", ["center", f"{LAT},{LON}"])
def test_origin_georeferences_a_new_project_and_the_import_goes_through(tmp_path, origin):
    project, dxf, glb = tmp_path / "nowy.json", tmp_path / "wynik.dxf", tmp_path / "wynik.glb"
    with serve(tmp_path, *routes(), extra=[fp.LUBLIN]) as fx:
        bbox = ",".join(str(v) for v in (fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH))
        p = veldra("import", "--bbox", bbox, "--layers", "dzialki,budynki,teren", "--terrain-step", "5",
                   "--project", project, "--origin", origin, "--dxf", dxf, "--gltf", glb,
                   env={**private_env(tmp_path / "home"), **fx.env()})
    assert p.returncode == 0, p.stdout + p.stderr
    geo = json.loads(project.read_text())["geolocation"]
    [(east, north)] = fp.to_east_north("EPSG:4326", "EPSG:2178", [(LAT, LON)])   # PROJ, PL-2000 zone 7
    assert abs(geo["surveyEasting"] - east) < 0.01 and abs(geo["surveyNorthing"] - north) < 0.01, geo
    # What was placed, read back by ezdxf (the GLB writer is judged by the export readers' test).
    _, c = read_dxf(dxf)
    assert c["GIS_DZIALKI", "LWPOLYLINE"] == 2 and c["GIS_BUDYNKI", "HATCH"] == 1 and c["GIS_TEREN", "POLYLINE"] >= 1
    assert glb.stat().st_size > 0
