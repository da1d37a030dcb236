"""Roofs from the cloud and LOD2 reconstruction through one `veldra bridge map --project` session:
a LOD1 package with a flat-roofed and a gabled building, and LiDAR tiles the test writes over them
(the gabled one's points in PL-2000 zone 7); the solids are read back from the exported GLB and
judged by CGAL and manifold-3d when those checkers are there."""

import json

from cloudfiles import las_tile
from fixture import serve, solid_checks, veldra
import test_fetch_pipeline as fp
from test_buildings3d import LOD1, box, glb_z_ranges, package, sheet
from test_cloud_surfaces import INDEX, TILES, index
from test_place_pipeline import session

X0, Y0 = fp.CX - 20, fp.CY - 10
GROUND, FLAT, EAVE, RIDGE = 100.0, 110.0, 106.0, 110.0


def grid(x0, y0, w, d, step):
    return [(x0 + step * (i + 0.5), y0 + step * (j + 0.5)) for i in range(int(w / step)) for j in range(int(d / step))]


def cloud():
    """Ground around both buildings; a flat roof on b1 (10 x 10 m), a gable along x on b2 (12 x 8 m)."""
    flat_box, gable_box = (X0, Y0, 10, 10), (X0 + 30, Y0, 12, 8)

    def inside(x, y, b):
        return b[0] <= x <= b[0] + b[2] and b[1] <= y <= b[1] + b[3]
    ground = [(x, y, GROUND, 2) for x, y in grid(X0 - 10, Y0 - 10, 65, 30, 1.0)
              if not inside(x, y, flat_box) and not inside(x, y, gable_box)]
    flat = [(x, y, FLAT, 6) for x, y in grid(*flat_box, 0.5)]
    mid = Y0 + 4
    gable = [(x, y, RIDGE - (RIDGE - EAVE) * abs(y - mid) / 4, 6) for x, y in grid(*gable_box, 0.5)]
    return ground + flat, gable


def test_roofs_and_reconstruction_from_lod1_outlines_and_two_zones(tmp_path):
    west, east = cloud()
    files = {
        "l/a.las": las_tile(tmp_path / "a.las", west),
        "l/b.las": las_tile(tmp_path / "b.las", east, "EPSG:2178"),
        "lod1.zip": package(sheet({"b1": box(X0, Y0, 10, 10, GROUND, FLAT)[:2],
                                   "b2": box(X0 + 30, Y0, 12, 8, GROUND, RIDGE)[:2]})),
    }
    nmt = fp.nmt(fp.asc_ramp())
    files.update(nmt["files"])
    routes = [fp.route(fp.PRG, fp.prg("0663011")), fp.route(LOD1, body_file="lod1.zip"),
              fp.route(INDEX, index([(TILES + "a.las", "PL-1992"), (TILES + "b.las", "PL-2000:S7")]))] + [
        fp.route("/opendata/lidar/" + n[2:], body_file=n) for n in ("l/a.las", "l/b.las")] + nmt["routes"]
    project, home = tmp_path / "projekt.json", tmp_path / "home"
    with serve(tmp_path, routes, files) as fx:
        (_, done, placed), seen, err = session(project, fx, home, layers=["dachychmura", "budynkirekon"])

    points = len(west) + len(east)
    warning = done["warning"]
    assert f"Dachy z chmury: 2 kafli, {points} pkt, 2 obrysow." in warning, warning
    assert f"Rekonstrukcja LOD2: 2 kafli, {points} pkt, 2 budynkow, Ok(class)=" in warning, warning
    assert "obcej strefie" not in warning
    assert {"Dachy z chmury: model terenu", "Dachy z chmury: dopasowanie dachow",
            "Rekonstrukcja LOD2: dopasowanie"} <= {m.get("label") for m in seen}
    assert done["counts"] == {"budynki3d": 2, "dachychmura": 2, "budynkirekon": 2}, done
    assert placed["type"] == "placeDone" and placed["counts"] == {"dachychmura": 2, "budynkirekon": 2}, placed
    assert "VELDRA dachy z chmury: utworzono 2 (oznaczono do korekty: 0), pominieto 0" in err, err
    assert "VELDRA rekonstrukcja LOD2: utworzono 2" in err, err

    rekon = home / "diag" / "rekon_cloud"
    lines = (rekon / "index.txt").read_text().splitlines()
    assert [l.split()[0] for l in lines[1:]] == ["#0", "#1"], lines   # a heading, then one line a building
    assert "groundZ=100.00" in lines[2] and "ridgeZ=" in lines[2]
    fp_lines = (rekon / "bud_00_fp.xyz").read_text().split("\n")
    assert len(fp_lines) == 5 and fp_lines[0].split()[2] == "100.000", fp_lines

    glb = tmp_path / "out.glb"
    assert veldra("export", "--project", project, "--gltf", glb).returncode == 0
    h = json.loads(project.read_text(encoding="utf-8"))["geolocation"]["surveyHeight"]
    z = glb_z_ranges(glb)   # the roof body and the reconstruction of b1 share the name and the heights
    assert z["b1"] == (round(GROUND - h, 2), round(FLAT - h, 2)), (z, h)
    cgal, manifold = solid_checks(glb)
    assert all(b["closed"] and b["outward"] for b in cgal) and (not cgal or len(cgal) >= 4), cgal
    assert all(b["ok"] for b in manifold), manifold


def test_tiles_only_in_a_pl2000_zone_still_give_roofs(tmp_path):
    _, east = cloud()
    files = {"l/b.las": las_tile(tmp_path / "b.las", east, "EPSG:2178"),
             "lod1.zip": package(sheet({"b2": box(X0 + 30, Y0, 12, 8, GROUND, RIDGE)[:2]}))}
    routes = [fp.route(fp.PRG, fp.prg("0663011")), fp.route(LOD1, body_file="lod1.zip"),
              fp.route(INDEX, index([(TILES + "b.las", "PL-2000:S7")])),
              fp.route("/opendata/lidar/b.las", body_file="l/b.las")]
    _, done, _ = fp.fetch(tmp_path, routes, ["dachychmura"], files=files)
    assert done["warning"].endswith(f"Dachy z chmury: 1 kafli, {len(east)} pkt, 1 obrysow."), done["warning"]
    assert done["counts"]["dachychmura"] == 1
