"""Terrain, water and contours from LiDAR through one `veldra bridge map --project` session: the
fixture server serves a LiDAR index and tiles the test writes (one in PL-1992, one in PL-2000
zone 7, and three that cannot be used); the placed elements are read back from the exported DXF."""

import math
import subprocess

import pytest

from cloudfiles import LIDAR_INDEX as INDEX, LIDAR_TILES as TILES, frame_grid, in_frame, las_tile, lidar_index as index
from fixture import VELDRA_BIN, dxf_heights, read_dxf, serve
import test_fetch_pipeline as fp
from test_place_pipeline import session

POND = (fp.MIN_X + 40, fp.MIN_Y + 60, fp.MIN_X + 70, fp.MIN_Y + 90)   # PL-1992 box of the lake
LAKE = 99.25


def cloud(tmp):
    """West half of the frame in PL-1992, east half in zone 7; a lake of class 9 points in the west.
    Returns the files and the numbers of ground points inside the frame and of lake points."""
    ground = [p + (2,) for p in frame_grid(slope=0.05)
              if not (POND[0] <= p[0] <= POND[2] and POND[1] <= p[1] <= POND[3])]
    west, east = [p for p in ground if p[0] < fp.CX], [p for p in ground if p[0] >= fp.CX]
    lake = [(POND[0] + 0.5 + i, POND[1] + 0.5 + j, LAKE, 9) for i in range(30) for j in range(30)]
    west += lake + [(fp.CX - 30.5, fp.CY + 0.5, 300.0, 6)]   # a building point: ignored
    tile92, tile2000 = las_tile(tmp / "west.las", west), las_tile(tmp / "east.las", east, "EPSG:2178")
    # A header announcing more points than the file holds.
    truncated = tile92[: len(tile92) - 28 * 10]
    return {"l/a.las": tile92, "l/b.las": tile2000, "l/c.las": b"<html>not a tile</html>",
            "l/d.las": truncated}, len(in_frame(ground)), len(lake)


def test_terrain_water_and_contours_from_two_zones(tmp_path):
    files, ground, lake_points = cloud(tmp_path)
    entries = [(TILES + "a.las", "PL-1992"), ("ftp://x/y.las", "PL-1992"), (TILES + "b.las", "PL-2000:S7"),
               (TILES + "c.las", "PL-1992"), (TILES + "d.las", "PL-1992"), (TILES + "missing.las", "PL-1992")]
    routes = [fp.route(INDEX, index(entries))] + [
        fp.route("/opendata/lidar/" + name[2:], body_file=name) for name in files]
    project = tmp_path / "projekt.json"
    with serve(tmp_path, routes, files) as fx:
        (_, done, placed), seen, _ = session(project, fx, tmp_path / "home", terenChmuraKrok=2, poziomiceCiecie=1.0,
                                             layers=["terenchmura", "poziomicechmura", "wodachmura"])
    tiles = [(m["done"], m["total"]) for m in seen if m.get("label") == "Teren z chmury: LiDAR"]
    assert tiles == [(i, 5) for i in range(5)]
    warning = done["warning"]
    for part in (f"Teren z chmury: 5 kafli, {ground} pkt gruntu (klasa 2), krok 2 m, komorek ", ", woda(kl.9) komorek ",
                 "Woda z chmury: ", f"poziom lustra {LAKE:.2f} m n.p.m.", "Poziomice z chmury: ", " warstwic, ciecie 1,00 m"):
        assert part in warning, (part, warning)
    assert done["counts"]["teren z chmury (Siatka)"] == 1 and done["counts"]["woda z chmury (Siatka)"] == 1
    assert placed["type"] == "placeDone", placed
    c = placed["counts"]
    assert c["teren z chmury (Siatka)"] >= 1 and c["woda z chmury (Siatka)"] >= 1
    assert c["poziomicechmura2d"] == done["counts"]["poziomice z chmury (warstwice)"]
    assert c["poziomicechmura3d"] == 1

    dxf = tmp_path / "out.dxf"
    subprocess.run([VELDRA_BIN, "export", "--project", str(project), "--dxf", str(dxf)], check=True, timeout=120)
    drawing, kinds = read_dxf(dxf)
    z = {layer: [round(v, 3) for v in zs] for layer, zs in dxf_heights(drawing).items()}
    assert kinds["GIS_POZIOMICE_CHMURA_2D", "LWPOLYLINE"] == c["poziomicechmura2d"]
    assert kinds["GIS_POZIOMICE_CHMURA_2D", "TEXT"] >= 1
    assert kinds["GIS_POZIOMICE_CHMURA_3D", "POLYLINE"] == 1
    # The lake is one flat surface at the level (the project's zero is the lowest terrain point:
    # the lake itself), the terrain rises 0.05 m per metre over about 210 m.
    assert set(z["GIS_WODA_CHMURA"]) == {0.0}
    lo, hi = min(z["GIS_TEREN_CHMURA"]), max(z["GIS_TEREN_CHMURA"])
    assert lo == 0.0 and 100.0 + 0.05 * 200 - LAKE < hi < 100.0 + 0.05 * 230 - LAKE, (lo, hi)


@pytest.mark.parametrize("case", ["no tile in the index", "water points but no ground"])
def test_frames_without_a_surface_say_why_and_nothing_else(tmp_path, case):
    if case == "no tile in the index":
        routes, files, expected = [fp.route(INDEX, fp.EMPTY_COLLECTION)], {}, \
            "Teren z chmury: brak kafli LiDAR dla tego obszaru w skorowidzu."
    else:
        routes = [fp.route(INDEX, index([(TILES + "w.las", "PL-1992")])),
                  fp.route("/opendata/lidar/w.las", body_file="w.las")]
        lake = [(fp.CX + i, fp.CY + j, LAKE, 9) for i in range(10) for j in range(10)]
        files, expected = {"w.las": las_tile(tmp_path / "w.las", lake)}, "Teren z chmury: brak punktow gruntu (klasa 2) w kadrze."
    _, done, _ = fp.fetch(tmp_path, routes, ["terenchmura", "poziomicechmura", "wodachmura"], files=files,
                          terenChmuraKrok=1)
    assert done["warning"] == expected
    assert done["counts"] == {}


def test_a_wide_frame_coarsens_the_step(tmp_path):
    # About 1200 m wide: step 1 becomes 1.5 (no tile needed to say so).
    west, east = 21.50, 21.50 + 1200 / (111320 * math.cos(math.radians(51.5)))
    _, done, _ = fp.fetch(tmp_path, [fp.route(INDEX, fp.EMPTY_COLLECTION)], ["terenchmura"], terenChmuraKrok=1,
                          bboxWgs84=[west, 51.500, east, 51.502])
    step = float(done["warning"].split("krata zgrubiona do ")[1].split(" m")[0])
    assert done["warning"].startswith("Teren z chmury: kadr duzy dla kroku 1 m - krata zgrubiona do ")
    assert abs(step - 1.5) < 0.02, done["warning"]
