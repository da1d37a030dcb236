"""Buildings from the surface model over LOD1 outlines, bridge decks and road ribbons along
OpenStreetMap ways, through `veldra bridge map` against the fixture server: NMT and NMPT sheets
written here (a terrain plane cut by a valley, three raised blocks, a deck over the valley), the
LOD1 package for the outlines and a recorded Overpass answer moved into the frame. Heights are read
back from the exported DXF (ezdxf) and GLB and compared with the grids written here."""

import json
import math
from datetime import datetime, timezone
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))
from fixture import dxf_heights, read_dxf, serve, shared_file, veldra  # noqa: E402
import test_fetch_pipeline as fp  # noqa: E402
from test_buildings3d import LOD1, glb_z_ranges, package, sheet  # noqa: E402
from test_place_pipeline import session  # noqa: E402

NMPT_INDEX = "/mapy/wss/service/PZGIK/NumerycznyModelPokryciaTerenuEVRF2007/WFS/Skorowidze"
NMPT_FILE = "/opendata/NumDaneWys/NMPT/sheet.asc"
OVERPASS = "/overpass/api/interpreter"
RECORDED = "samples/overpass/overpass_nodes_place_village_subset40.json"
LOD1_NOTE = "Modele 3D: LOD1 2024, powiat 0663, budynkow w kadrze: 4"

# Scene in metres from a whole-metre point near the frame's centre; 1 m cells from -150 to +150.
OX, OY = math.floor(fp.CX), math.floor(fp.CY)
VALLEY = (40, 60)                       # east-west span where the terrain drops 6 m
BLOCKS = {"n1": ((-60, 20, -40, 35), 109.0), "n2": ((-20, 20, -5, 30), 106.0), "n3": ((10, 20, 25, 40), 115.0)}
DECK = ((32, -45, 68, -35), 103.0)
OPEN = ("n4", (-60, -20, -45, -10))     # an outline over bare ground


def ground(u, v):
    return 100 + 0.02 * u - (6 if VALLEY[0] <= u <= VALLEY[1] else 0)


def surface(u, v):
    for (u0, v0, u1, v1), top in list(BLOCKS.values()) + [DECK]:
        if u0 <= u <= u1 and v0 <= v <= v1:
            return top
    return ground(u, v)


def asc(f, broken=False):
    n = 300
    rows = [" ".join(f"{f(c - 149.5, 149.5 - r):.3f}" for c in range(n)) for r in range(n)]
    head = f"ncols {n}\nnrows {n}\nxllcorner {OX - 150}\nyllcorner {OY - 150}\ncellsize 1\nNODATA_value -9999\n"
    return head + ("1 2 x\n" if broken else "\n".join(rows) + "\n")


def lonlat(points):
    """(u, v) scene points as (lon, lat), by PROJ."""
    return fp.to_east_north("EPSG:2180", "EPSG:4326", [(OY + v, OX + u) for u, v in points])


def overpass_answer():
    """The recorded answer, its nodes moved into the frame, with a bridge and a road added: the
    recording holds nodes only, which the reader must pass over."""
    answer = json.loads(shared_file(RECORDED).read_text(encoding="utf-8"))
    nodes = [e for e in answer["elements"] if e.get("type") == "node"]
    lat0, lon0 = nodes[0]["lat"], nodes[0]["lon"]
    (clon, clat), = lonlat([(0, 0)])
    for e in nodes:
        e["lat"], e["lon"] = clat + (e["lat"] - lat0) * 1e-3, clon + (e["lon"] - lon0) * 1e-3

    def way(wid, pts, tags):
        return {"type": "way", "id": wid, "tags": tags,
                "geometry": [{"lat": lat, "lon": lon} for lon, lat in lonlat(pts)]}
    answer["elements"] += [
        way(1, [(35, -40), (65, -40)], {"highway": "secondary", "bridge": "yes", "width": "6", "name": "Most"}),
        way(2, [(-90, -80), (200, -80)], {"highway": "residential", "name": "Polna"}),
    ]
    return json.dumps(answer)


def outlines_package():
    def flat(u0, v0, u1, v1):   # LOD1 ground and roof faces of an outline 1 m inside the box
        c = [(OX + u, OY + v) for u, v in ((u0 + 1, v0 + 1), (u1 - 1, v0 + 1), (u1 - 1, v1 - 1), (u0 + 1, v1 - 1))]
        return [[(x, y, 90.0) for x, y in reversed(c)], [(x, y, 95.0) for x, y in c]]
    return package(sheet({**{k: flat(*box) for k, (box, _) in BLOCKS.items()}, OPEN[0]: flat(*OPEN[1])}))


def routes(nmt=True, nmpt=True, broken=None, overpass=None):
    r = [fp.route(fp.PRG, fp.prg("0663011")), fp.route(LOD1, body_file="lod1.zip"),
         fp.route(fp.NMT_INDEX, fp.nmt_index(fp.SHEET_URL) if nmt else fp.EMPTY_COLLECTION, name="nmt-index"),
         fp.route(fp.NMT_FILE, body_file="nmt.asc", name="nmt-sheet"),
         fp.route(NMPT_INDEX, fp.nmt_index("https://opendata.geoportal.gov.pl" + NMPT_FILE[9:], "NMPT")
                  if nmpt else fp.EMPTY_COLLECTION, name="nmpt-index"),
         fp.route(NMPT_FILE, body_file="nmpt.asc", name="nmpt-sheet"),
         fp.route(OVERPASS, name="overpass", **(overpass or {"body_file": "overpass.json"}))]
    files = {"lod1.zip": outlines_package(), "nmt.asc": asc(ground, broken == "nmt"),
             "nmpt.asc": asc(surface, broken == "nmpt"), "overpass.json": overpass_answer()}
    return r, files


def test_buildings_decks_and_ribbons_fetched_placed_and_exported(tmp_path):
    project, home = tmp_path / "projekt.json", tmp_path / "home"
    with serve(tmp_path, *routes()) as fx:
        (_, done, placed), seen, err = session(project, fx, home, layers=["budynkindsm", "mosty", "drogi"])
        stats = fx.stats()
    assert done["counts"] == {"budynki3d": 4, "budynkindsm": 4, "mosty": 1, "drogi": 1}, done
    assert done["warning"] == f"{LOD1_NOTE} Budynki nMPT: 4 obrysow. Mosty (OSM): 1 w kadrze. Drogi (OSM): 1 w kadrze."
    progress = [(m["label"], m["done"], m["total"]) for m in seen if m.get("type") == "progress"]
    assert {("Budynki (nMPT): dopasowanie", 3, 4), ("Mosty/drogi: korytarze", 1, 2)} <= set(progress), progress
    assert (stats["routes"]["nmpt-index"], stats["routes"]["nmpt-sheet"]) == (1, 1), stats["routes"]   # one model

    assert placed["counts"] == {"budynkindsm": 4, "mosty": 1, "drogi": 1}, placed
    for line in ("VELDRA budynki nMPT: utworzono 4 (do korekty: 1), pominieto 0",
                 "VELDRA mosty: utworzono 1 (do korekty: 0), pominieto 0",
                 "VELDRA drogi: utworzono 1 (do korekty: 0), pominieto 0"):
        assert line in err, err
    diag = (home / "diag" / "orvane_ndsm_diag.txt").read_text()
    assert all(t in diag for t in ("budynkow(fetch)=4", "mosty(fetch)=1", "drogi(fetch)=1")), diag

    p = json.loads(project.read_text(encoding="utf-8"))
    materials = {m["index"]: m["name"] for m in p["attributes"]["surfaceMaterials"]}
    layers = {l["index"]: l["name"] for l in p["attributes"]["layers"]}
    used = {(layers[e["layer"]], materials.get(e.get("surfaceMaterial"))) for e in p["elements"] if e["type"] == 45}
    assert used == {("GIS_BUDYNKI_NMPT", "GIS Budynek nMPT"), ("GIS_BUDYNKI_NMPT", "GIS Budynek nMPT - POPRAW"),
                    ("GIS_MOSTY", "GIS Most nMPT"), ("GIS_DROGI", "GIS Droga")}, used

    h = p["geolocation"]["surveyHeight"]
    dxf, glb = tmp_path / "out.dxf", tmp_path / "out.glb"
    assert veldra("export", "--project", project, "--dxf", dxf, "--gltf", glb).returncode == 0
    drawing, _ = read_dxf(dxf)
    dxf_z = {layer: (min(zs) + h, max(zs) + h) for layer, zs in dxf_heights(drawing).items()}
    glb_z = {k: (lo + h, hi + h) for k, (lo, hi) in glb_z_ranges(glb).items()}

    # Blocks: the roof at the block's level, walls down to the terrain at the outline's corners.
    for name, ((u0, v0, u1, v1), top) in BLOCKS.items():
        assert glb_z[name] == pytest.approx((ground(u0 + 1, 0), top), abs=0.011), (name, glb_z[name])
    u0, v0, u1, v1 = OPEN[1]
    assert glb_z[OPEN[0]] == pytest.approx((ground((u0 + u1) / 2, 0),) * 2, abs=0.011)   # a roof only
    assert glb_z["Most"] == pytest.approx((DECK[1], DECK[1]), abs=0.011)
    # The ribbon lies on the terrain: down into the valley, up to the frame's east edge where it is cut.
    lo, hi = glb_z["Polna"]
    assert ground(VALLEY[0], 0) - 0.02 <= lo < ground(VALLEY[0] - 1, 0) - 3, lo
    assert hi == pytest.approx(ground(fp.MAX_X - OX, 0), abs=0.02)
    # The drawing holds the same bodies on their layers.
    expected = {"GIS_BUDYNKI_NMPT": (ground(-59, 0), 115.0), "GIS_MOSTY": (DECK[1],) * 2, "GIS_DROGI": (lo, hi)}
    assert sorted(dxf_z) == sorted(expected)
    for layer, z_range in expected.items():
        assert dxf_z[layer] == pytest.approx(z_range, abs=0.011), layer


NO_MODEL = "Budynki (nMPT): brak pokrycia nMPT lub NMT dla tego kadru. Mosty/drogi: brak pokrycia nMPT lub NMT dla tego kadru."
UNPARSED = "Budynki (nMPT): nie udalo sie sparsowac kafli nMPT/NMT. Mosty/drogi: nie udalo sie sparsowac kafli nMPT/NMT."
BUILT = f"{LOD1_NOTE} Budynki nMPT: 4 obrysow."
KEYS = ["budynkindsm", "mosty"]
FAULTS = [   # (routes, keys, fetch parameters, warning)
    pytest.param(dict(nmpt=False), KEYS, {}, f"{LOD1_NOTE} {NO_MODEL}", id="nmt-without-nmpt"),
    pytest.param(dict(nmt=False), KEYS, {}, f"{LOD1_NOTE} {NO_MODEL}", id="nmpt-without-nmt"),
    pytest.param(dict(broken="nmpt"), KEYS, {}, f"{LOD1_NOTE} {UNPARSED}", id="sheet-that-does-not-parse"),
    pytest.param(dict(overpass={"status": 500, "body": "busy"}), KEYS, {},
                 f"{BUILT} OSM (Overpass): usluga nie odpowiada (status 500).", id="overpass-error"),
    pytest.param(dict(overpass={"body": '{"elements": {"type": "way"}}'}), KEYS, {},
                 f"{BUILT} OSM (Overpass): nieczytelna odpowiedz uslugi.", id="overpass-wrong-json"),
    pytest.param({}, ["mosty", "drogi"], {"bboxWgs84": [21.5, 51.5, 21.6, 51.55]},
                 "Mosty/drogi (OSM): kadr za duzy \u2014 przybliz mape (max ok. 5x5 km).", id="frame-too-large"),
    # The terrain phase read the NMT sheet: the model takes it from there.
    pytest.param({}, ["teren", "budynkindsm"], {"terrainStep": 5}, BUILT, id="nmt-sheet-shared-with-terrain"),
]


@pytest.mark.parametrize("case,keys,params,warning", FAULTS)
def test_missing_or_bad_sources_become_notes(tmp_path, case, keys, params, warning):
    r, files = routes(**case)
    _, done, stats = fp.fetch(tmp_path, r, keys, files=files, **params)
    assert done["warning"] == warning, done
    # One model for both phases whatever happened: at most one walk down each index's years (the
    # oldest are 2018 and 2019) and one read of each sheet; no Overpass request for a refused frame.
    n, year = stats["routes"], datetime.now(timezone.utc).year
    assert n.get("nmt-index", 0) in (0, 1, year + 2 - 2018) and n.get("nmpt-index", 0) in (0, 1, year + 2 - 2019), n
    assert n.get("nmpt-sheet", 0) <= 1 and n.get("nmt-sheet", 0) <= 1, n
    assert (n.get("overpass", 0) == 0) == ("bboxWgs84" in params or "mosty" not in keys), n
