"""Our GML reading against GDAL's ogr2ogr, feature by feature, on the recorded service answers.

Both readers see the same file; ours is run through `veldra gml2geojson --pl1992`, which prints
the coordinates exactly as the parser holds them. Cases where the two readers legitimately differ
are listed in EXPECTED with the reason, and the comparison applies that rule instead of failing.
"""
import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

from fixture import veldra

SHARED = Path(os.environ.get("VELDRA_SHARED_DATA", "/work/shared/data"))
DIRS = ["samples/egib_wfs", "samples/prg"]

LATLON_URN = "srsName 'urn:ogc:def:crs:EPSG::4326' is written lat,lon; GDAL swaps it to lon,lat, we " \
             "swap only the Polish grids (WGS84 answers are not requested by the import)"

# file name -> (how to compare, why)
EXPECTED = {
    "dzialki_dabrowa_gornicza_2465_wfs11_pl1992.xml": (
        "swap",
        "WFS 1.1.0 with the short form 'EPSG:2180' but northing-first data: GDAL takes the short form as "
        "easting first and returns (N, E); we treat every PL-1992 name as northing first, which matches "
        "the data (easting 521 476 lies in Dabrowa Gornicza)"),
    "budynki_epodgik_gml_basic_building.xml": ("swap", LATLON_URN),
    "budynki_epodgik_gml_coordinates_lat_lon_order.xml": ("swap", LATLON_URN),
    "budynki_epodgik_gml_multiple_buildings.xml": ("swap", LATLON_URN),
    "budynki_geoportal2_gml_basic_building.xml": ("swap", LATLON_URN),
    "budynki_geoportal2_gml_multiple_buildings.xml": ("swap", LATLON_URN),
    "budynki_katowice_gml_basic_building_3d.xml": (
        "reproject",
        "PL-2000 zone 6 (EPSG 2177) with srsDimension 3: we convert to PL-1992 ourselves, so GDAL's "
        "reading is reprojected with PROJ (-t_srs EPSG:2180) before comparing; Z is dropped by us"),
    "a02_powiaty_two_counties_propertyname_wfs20.xml": (
        "same",
        "answer without geometry (PROPERTYNAME=JPT_KOD_JE): GDAL keeps 2 features with null geometry, "
        "we drop features without geometry"),
}


def samples():
    files = []
    for d in DIRS:
        p = SHARED / d
        if p.is_dir():
            files += sorted(p.glob("*.xml"))
    return files


def ours(path):
    r = veldra("gml2geojson", path, "--pl1992")
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout)


def gdal(path, reproject):
    args = ["ogr2ogr", "-oo", "DOWNLOAD_SCHEMA=NO", "-oo", "WRITE_GFS=NO", "-f", "GeoJSON"]
    if reproject:
        args += ["-t_srs", "EPSG:2180"]
    args += ["/vsistdout/", str(path)]
    r = subprocess.run(args, capture_output=True, text=True, timeout=60,
                       env={**os.environ, "GDAL_HTTP_TIMEOUT": "1", "CPL_DEBUG": "OFF"})
    assert r.returncode == 0, r.stderr
    # A collection without members gives GDAL no layer at all, hence no output.
    return json.loads(r.stdout) if r.stdout.strip() else {"features": []}


def our_rings(f):
    rings = [ring for poly in f["polygons"] for ring in poly]
    return rings + f["lines"]


def gdal_rings(g):
    """The rings and lines of a GeoJSON geometry, in order (a point as a one-point line)."""
    c = g["coordinates"]
    nesting = {"Point": 0, "LineString": 1, "MultiLineString": 2, "Polygon": 2, "MultiPolygon": 3}[g["type"]]
    return [[c]] if nesting == 0 else [c] if nesting == 1 else c if nesting == 2 else [r for p in c for r in p]


need_tools = pytest.mark.skipif(shutil.which("ogr2ogr") is None, reason="ogr2ogr (gdal-bin) missing")


@need_tools
@pytest.mark.parametrize("path", samples(), ids=lambda p: p.name)
def test_same_features_as_gdal(path):
    mode, _why = EXPECTED.get(path.name, ("same", ""))
    mine = ours(path)
    theirs = [f for f in gdal(path, mode == "reproject")["features"] if f.get("geometry")]
    assert len(mine) == len(theirs), f"{len(mine)} features vs GDAL {len(theirs)}"
    worst = 0.0
    for i, (a, b) in enumerate(zip(mine, theirs)):
        ra, rb = our_rings(a), gdal_rings(b["geometry"])
        assert len(ra) == len(rb), f"feature {i}: {len(ra)} rings/lines vs GDAL {len(rb)}"
        for j, (pa, pb) in enumerate(zip(ra, rb)):
            assert len(pa) == len(pb), f"feature {i} ring {j}: {len(pa)} vertices vs GDAL {len(pb)}"
            for va, vb in zip(pa, pb):
                x, y = (va[1], va[0]) if mode == "swap" else (va[0], va[1])
                # 1 mm, or its angular equivalent for geographic answers
                tol = 1e-3 if abs(vb[0]) > 1000 else 1e-8
                d = max(abs(x - vb[0]), abs(y - vb[1]))
                worst = max(worst, d / tol)
                assert d <= tol, f"feature {i} ring {j}: ({x}, {y}) vs GDAL ({vb[0]}, {vb[1]})"
        # Simple properties: GDAL names gml:id "gml_id" (we read only an unprefixed id) and types numbers.
        keys_a = set(a["attributes"]) - {"_typ", "gml_id"}
        keys_b = set(b["properties"]) - {"gml_id"}
        assert keys_a == keys_b, f"feature {i}: properties {sorted(keys_a)} vs GDAL {sorted(keys_b)}"
        for k in keys_a:
            if isinstance(b["properties"][k], str):
                assert a["attributes"][k] == b["properties"][k], k
    print(f"{path.name}: {len(mine)} features, largest deviation {worst:.3g} of the 1 mm tolerance ({mode})")


@need_tools
def test_every_recorded_answer_is_covered():
    names = {p.name for p in samples()}
    if not names:
        pytest.skip("recorded samples not available under " + str(SHARED))
    assert set(EXPECTED) <= names, "EXPECTED names a file that no longer exists"
