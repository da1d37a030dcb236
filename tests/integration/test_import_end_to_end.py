"""`veldra import` end to end against the fixture server: fetch, place, save, DXF and GLB,
the drawing read back by ezdxf (the GLB writer is judged by the export readers' test)."""

from fixture import private_env, read_dxf, serve, veldra
import test_fetch_pipeline as fp
from test_place_pipeline import session, routes


def test_import_places_and_exports_what_other_programs_read(tmp_path):
    project, dxf, glb = tmp_path / "projekt.json", tmp_path / "wynik.dxf", tmp_path / "wynik.glb"
    home = tmp_path / "home"
    with serve(tmp_path, *routes(), extra=[fp.LUBLIN]) as fx:
        # Georeference the project first, as the user does with "Ustaw lokalizacje".
        [origin], _, err = session(project, fx, home, place=False)
        assert origin["type"] == "originSet", (origin, err)

        env = {**private_env(home), **fx.env()}
        bbox = ",".join(str(v) for v in (fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH))
        r = veldra("import", "--bbox", bbox, "--layers", "dzialki,budynki,teren", "--terrain-step", "5",
                   "--project", project, "--dxf", dxf, "--gltf", glb, env=env)
    assert r.returncode == 0, r.stdout + r.stderr
    assert "dzialki" in r.stdout

    # What was placed is read back from the DXF (the saved project is checked by test_place_pipeline).
    _, c = read_dxf(dxf)
    assert c["GIS_DZIALKI", "LWPOLYLINE"] == 2 and c["GIS_BUDYNKI", "HATCH"] == 1 and c["GIS_TEREN", "POLYLINE"] >= 1

    assert glb.stat().st_size > 0
