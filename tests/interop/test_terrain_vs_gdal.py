"""ESRI ASCII grids read and contoured by veldra, checked against GDAL's own tools.

Sampling: `veldra asc-sample` against a bilinear reference built from GDAL's reading of the grid
(its pixel values and geotransform).
Contours: `veldra asc-contours` against `gdal_contour` on the same grid, level by level.
"""
import json
import math
import os
import random
import shutil
import subprocess

import pytest

gdal = pytest.importorskip("osgeo.gdal")
VELDRA = os.environ.get("VELDRA_BIN", "")
pytestmark = pytest.mark.skipif(shutil.which("gdal_contour") is None, reason="GDAL command-line tools missing")


def write_asc(path, values, x, y, cell, centre=False, nodata=-9999):
    nrows, ncols = len(values), len(values[0])
    kx, ky = ("xllcenter", "yllcenter") if centre else ("xllcorner", "yllcorner")
    with open(path, "w") as f:
        f.write(f"ncols {ncols}\nnrows {nrows}\n{kx} {x}\n{ky} {y}\ncellsize {cell}\nNODATA_value {nodata}\n")
        for row in values:  # first row northernmost
            f.write(" ".join(repr(v) for v in row) + "\n")


def run(*args):
    p = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=300)
    assert p.returncode == 0, f"{args[0]} failed ({p.returncode}): {p.stderr}"
    return p


def veldra_samples(paths, points):
    args = [VELDRA, "asc-sample", *paths]
    for x, y in points:
        args += ["--at", f"{x!r},{y!r}"]
    lines = run(*args).stdout.split()
    assert len(lines) == len(points)
    return [None if s == "nodata" else float(s) for s in lines]


def gdal_grid(path):
    """GDAL's reading of the grid: west edge, cell size, north edge and the values (rows from the north)."""
    ds = gdal.Open(str(path))
    x0, cell, _, ytop, _, ncell = ds.GetGeoTransform()
    assert abs(cell + ncell) < 1e-12
    return x0, cell, ytop, ds.GetRasterBand(1).ReadAsArray().astype(float)


def reference_samples(path, points, nodata):
    """Bilinear interpolation between the cell centres of GDAL's reading; None outside the raster
    or on a NODATA cell, the cell's own value when a neighbour is NODATA."""
    x0, cell, ytop, z = gdal_grid(path)
    nrows, ncols = z.shape
    out = []
    for x, y in points:
        col, row = (x - x0) / cell, (ytop - y) / cell
        if not (0 <= col < ncols and 0 <= row < nrows) or z[int(row), int(col)] == nodata:
            out.append(None)
            continue
        c0, r0 = math.floor(col - 0.5), math.floor(row - 0.5)
        tx, ty = col - 0.5 - c0, row - 0.5 - r0
        # Neighbours past the edge hold the edge value.
        cs, rs = [min(max(c, 0), ncols - 1) for c in (c0, c0 + 1)], [min(max(r, 0), nrows - 1) for r in (r0, r0 + 1)]
        zt0, zt1, zb0, zb1 = (z[r, c] for r in rs for c in cs)   # row r0 then r0 + 1 (further south)
        if nodata in (zt0, zt1, zb0, zb1):
            out.append(z[int(row), int(col)])
        else:
            out.append((1 - tx) * (1 - ty) * zt0 + tx * (1 - ty) * zt1 + (1 - tx) * ty * zb0 + tx * ty * zb1)
    return out


@pytest.mark.parametrize("centre", [False, True], ids=["corner", "centre"])
def test_sampling_matches_gdal(tmp_path, centre):
    rng = random.Random(11 if centre else 5)
    ncols, nrows, cell = 23, 17, 2.5
    # Eighths are exact in GDAL's float32 band, so values compare exactly.
    values = [[round(rng.uniform(80, 120) * 8) / 8 for _ in range(ncols)] for _ in range(nrows)]
    values[4][7] = values[12][0] = values[0][22] = -9999
    x0, y0 = 512345.0, 287650.0
    path = tmp_path / "g.asc"
    write_asc(path, values, x0 + (cell / 2 if centre else 0), y0 + (cell / 2 if centre else 0), cell, centre=centre)
    # Every centre (where we must give the stored value), random points, points at and past the edges.
    pts = [(x0 + (c + 0.5) * cell, y0 + (r + 0.5) * cell) for r in range(nrows) for c in range(ncols)]
    pts += [(rng.uniform(x0, x0 + ncols * cell), rng.uniform(y0, y0 + nrows * cell)) for _ in range(300)]
    pts += [(x0 + 1e-6, y0 + 1e-6), (x0 + 0.01, y0 + nrows * cell - 0.01), (x0 + ncols * cell - 1e-6, y0 + 1)]
    pts += [(x0 + ncols * cell, y0 + 5), (x0 - 0.5, y0 + 3), (x0 + 3, y0 - 0.01)]
    for p, a, b in zip(pts, veldra_samples([path], pts), reference_samples(path, pts, -9999.0)):
        if b is None:
            assert a is None, f"{p}: veldra {a}, GDAL has no value"
        else:
            assert a is not None and abs(a - b) < 1e-9, f"{p}: veldra {a}, GDAL reference {b}"
    # Exactly on the outer edges GDAL counts rows from the north, so its southern edge is
    # outside; ours is the other way round: south and west inside, north and east outside.
    edge = veldra_samples([path], [(x0, y0 + 3.5 * cell), (x0 + 3 * cell, y0), (x0 + 3, y0 + nrows * cell)])
    assert edge[0] == gdal_grid(path)[3][nrows - 4, 0]
    assert edge[1] == (values[nrows - 1][2] + values[nrows - 1][3]) / 2
    assert edge[2] is None


def hills(ncols, nrows):
    def z(c, r):
        return (120 + 9 * math.sin(c / 23.0) * math.cos(r / 17.0) + 6 * math.exp(-((c - 70) ** 2 + (r - 50) ** 2) / 400)
                + 0.013 * c + 0.0071)
    return [[round(z(c, nrows - 1 - r), 3) for c in range(ncols)] for r in range(nrows)]


def line_stats(geojson_path, level_key):
    """Per level: total length, number of lines, number of open lines."""
    with open(geojson_path) as f:
        doc = json.load(f)
    per_level = {}
    for feat in doc["features"]:
        g = feat["geometry"]
        if g is None or g["type"] not in ("LineString", "MultiLineString"):
            continue
        parts = [g["coordinates"]] if g["type"] == "LineString" else g["coordinates"]
        for pts in parts:
            length = sum(math.dist(pts[i][:2], pts[i + 1][:2]) for i in range(len(pts) - 1))
            st = per_level.setdefault(round(float(feat["properties"][level_key]), 6), [0.0, 0, 0])
            st[0] += length
            st[1] += 1
            st[2] += pts[0][:2] != pts[-1][:2]
    return per_level


def assert_like_gdal(ours, theirs, cell):
    assert sorted(ours) == sorted(theirs)
    total_ours = sum(v[0] for v in ours.values())
    total_gdal = sum(v[0] for v in theirs.values())
    assert abs(total_ours - total_gdal) <= 0.01 * total_gdal, (total_ours, total_gdal)
    for lv, (length, count, open_lines) in theirs.items():
        # gdal_contour carries each open end on to the raster's outer edge, half a cell further.
        assert abs(ours[lv][0] + open_lines * cell - length) <= 0.01 * length, (lv, ours[lv], theirs[lv])
        assert ours[lv][1:] == [count, open_lines], (lv, ours[lv], theirs[lv])


def contours_like_gdal(tmp_path, values, interval, sheets_at=None):
    """Our contours of `values` (or of its west and east parts split at column `sheets_at`, given
    east first) against gdal_contour on the whole grid; gives our GeoJSON document."""
    whole = tmp_path / "whole.asc"
    write_asc(whole, values, 600000.0, 400000.0, 1.0)
    grids = [whole]
    if sheets_at:
        grids = [tmp_path / "e.asc", tmp_path / "w.asc"]
        write_asc(grids[0], [row[sheets_at:] for row in values], 600000.0 + sheets_at, 400000.0, 1.0)
        write_asc(grids[1], [row[:sheets_at] for row in values], 600000.0, 400000.0, 1.0)
    ours_path, gdal_path = tmp_path / "ours.geojson", tmp_path / "gdal.geojson"
    run(VELDRA, "asc-contours", *grids, "--interval", interval, "--out", ours_path)
    run("gdal_contour", "-q", "-f", "GeoJSON", "-a", "elev", "-i", interval, whole, gdal_path)
    assert_like_gdal(line_stats(ours_path, "level"), line_stats(gdal_path, "elev"), 1.0)
    with open(ours_path) as f:
        return json.load(f)


@pytest.mark.parametrize("interval", [1.0, 2.0])
def test_contours_match_gdal_contour(tmp_path, interval):
    doc = contours_like_gdal(tmp_path, hills(240, 180), interval)
    lines = [ft for ft in doc["features"] if ft["geometry"]["type"] == "LineString"]
    # Where labels go and what they say is the contour unit test's; here that they are written.
    assert lines and any(ft["geometry"]["type"] == "Point" for ft in doc["features"])
    for ft in lines:
        assert isinstance(ft["properties"]["index"], bool)
        lv = ft["properties"]["level"]
        assert ft["properties"]["index"] == (round(lv / interval) % 5 == 0)


def test_nodata_hole_contours_like_gdal(tmp_path):
    values = hills(240, 180)
    for r in range(60, 90):
        for c in range(100, 140):
            values[r][c] = -9999
    contours_like_gdal(tmp_path, values, 1)


def test_adjacent_sheets_contour_like_one_grid(tmp_path):
    contours_like_gdal(tmp_path, hills(200, 120), 1, sheets_at=110)


# What smoothing does is the contour unit test's (ContourSmoothing); here only that the
# option reaches it.
def test_bbox_clips_the_contours(tmp_path):
    grid = tmp_path / "h.asc"
    write_asc(grid, hills(120, 100), 600000.0, 400000.0, 1.0)
    box = (600020.0, 400010.0, 600090.5, 400075.0)
    out = tmp_path / "box.geojson"
    p = run(VELDRA, "asc-contours", grid, "--interval", "0.5", "--bbox", ",".join(map(str, box)), "--step", "2",
            "--out", out)
    assert "lattice 36 x 33 step 2 m" in p.stdout
    with open(out) as f:
        for ft in json.load(f)["features"]:
            coords = ft["geometry"]["coordinates"]
            for x, y in (coords if ft["geometry"]["type"] == "LineString" else [coords]):
                assert box[0] <= x <= box[2] and box[1] <= y <= box[3]
    smoothed = tmp_path / "smooth.geojson"
    run(VELDRA, "asc-contours", grid, "--interval", "0.5", "--bbox", ",".join(map(str, box)), "--step", "2",
        "--smooth", "--out", smoothed)
    assert smoothed.read_bytes() != out.read_bytes()
