"""The cloud height grid of real LiDAR tiles against an independent implementation of its rules:
the points are decoded by laz-perf (npm), gridded here with numpy (upper median of each cell's
32-bit heights, hole-filling passes written after each pass), and compared cell by cell with
`veldra cloud-grid`. Our contours of the grid are checked against `gdal_contour` on the same grid.

No Polish tile is at hand: the real tiles are a German one (ETRS89 / UTM zone 32N) and the Autzen
sample (Oregon, US feet); Polish zones and water classes are covered by the black-box import test.
"""
import math
import shutil
import subprocess
from pathlib import Path

import pytest

from cloudfiles import lazperf_points
from fixture import NODE_DIR, shared_file, veldra
from test_terrain_vs_gdal import line_stats

np = pytest.importorskip("numpy")

pytestmark = [
    pytest.mark.skipif(shutil.which("node") is None or not (NODE_DIR / "node_modules" / "laz-perf").exists(),
                       reason="node or laz-perf missing"),
    pytest.mark.skipif(shutil.which("gdal_contour") is None, reason="gdal_contour missing"),
]

TILES = [  # file, grid step, contour interval (the tile's own units)
    ("laszip4j/500m_5460_59370_IM2023_subset.laz", 0.5, 0.25),  # Germany, ETRS89 / UTM 32N, metres
    ("laz-perf/autzen_trim.laz", 5.0, 2.0),                     # Oregon, US feet
]


def ground_points(laz, tmp):
    """x, y, z (float64) of the class 2 points, decoded by laz-perf."""
    rec, xyz, fmt = lazperf_points(laz, tmp)
    return xyz[rec[:, 16 if fmt >= 6 else 15] == 2]


def numpy_grid(pts, minx, miny, maxx, maxy, step):
    nx, ny = int(math.floor((maxx - minx) / step)) + 1, int(math.floor((maxy - miny) / step)) + 1
    keep = (pts[:, 0] >= minx) & (pts[:, 0] <= maxx) & (pts[:, 1] >= miny) & (pts[:, 1] <= maxy)
    p = pts[keep]
    i = np.floor((p[:, 0] - minx) / step).astype(int)
    j = np.floor((p[:, 1] - miny) / step).astype(int)
    h = np.full((ny, nx), np.nan)
    cell = j * nx + i
    order = np.lexsort((p[:, 2].astype(np.float32), cell))
    cells, starts, counts = np.unique(cell[order], return_index=True, return_counts=True)
    z = p[order, 2].astype(np.float32)
    h.flat[cells] = z[starts + counts // 2]   # rank floor(n / 2) of the sorted heights
    for _ in range(20):
        valid = ~np.isnan(h)
        total, n = (sum(np.pad(a, 1)[1 + dj:ny + 1 + dj, 1 + di:nx + 1 + di] for dj in (-1, 0, 1) for di in (-1, 0, 1)
                        if (di, dj) != (0, 0)) for a in (np.where(valid, h, 0.0), valid.astype(int)))   # over the 8 neighbours
        fill = ~valid & (n >= 3)
        if not fill.any():
            break
        h[fill] = total[fill] / n[fill]
    return h, int(keep.sum())


def read_asc(path):
    lines = Path(path).read_text().split("\n")
    head = {l.split()[0].lower(): float(l.split()[1]) for l in lines[:6]}
    rows = [list(map(float, l.split())) for l in lines[6:] if l.strip()]
    a = np.array(rows[::-1])   # rows from the south
    a[a == head["nodata_value"]] = np.nan
    return head, a


@pytest.mark.parametrize("name,step,interval", TILES)
def test_grid_cell_by_cell_and_contours_like_gdal(tmp_path, name, step, interval):
    laz = shared_file("lidar/" + name)
    pts = ground_points(laz, tmp_path)
    # Inside the bulk of the data (the German tile holds a few stray points kilometres away), so
    # that holes stay few.
    lo, hi = np.percentile(pts[:, :2], 1, axis=0), np.percentile(pts[:, :2], 99, axis=0)
    minx, miny = (float(v) for v in lo + 0.05 * (hi - lo))
    maxx, maxy = (float(v) for v in hi - 0.05 * (hi - lo))
    theirs, inside = numpy_grid(pts, minx, miny, maxx, maxy, step)

    asc = tmp_path / "ours.asc"
    out = veldra("cloud-grid", laz, "--bbox", f"{minx!r},{miny!r},{maxx!r},{maxy!r}", "--step", repr(step), "--out", asc,
                 "--contours", repr(interval))
    assert out.returncode == 0, out.stderr
    assert f"ground {inside} " in out.stdout
    head, ours = read_asc(asc)
    assert ours.shape == theirs.shape
    assert (head["xllcorner"], head["yllcorner"], head["cellsize"]) == (minx, miny, step)
    assert np.array_equal(np.isnan(ours), np.isnan(theirs))
    both = ~np.isnan(ours)
    assert np.abs(ours[both] - theirs[both]).max() <= 1e-9 * np.abs(theirs[both]).max()

    # gdal_contour reads values at cell centres; ours sit on the cells' lower-left corners.
    centred = tmp_path / "centred.asc"
    text = asc.read_text().split("\n")
    text[2], text[3] = f"xllcorner {minx - step / 2!r}", f"yllcorner {miny - step / 2!r}"
    centred.write_text("\n".join(text))
    gdal = tmp_path / "gdal.geojson"
    subprocess.run(["gdal_contour", "-q", "-f", "GeoJSON", "-a", "elev", "-i", repr(interval), str(centred),
                    str(gdal)], check=True, timeout=300)
    reference = line_stats(gdal, "elev")
    mine = {round(float(l.split()[1]), 6): float(l.split()[2]) for l in out.stdout.splitlines()
            if l.startswith("level ")}
    assert sorted(mine) == sorted(reference)
    # gdal_contour carries each open end on to the raster's outer edge, half a cell further.
    total_ours = sum(mine.values()) + step * sum(v[2] for v in reference.values())
    total_gdal = sum(v[0] for v in reference.values())
    assert abs(total_ours - total_gdal) <= 0.01 * total_gdal, (total_ours, total_gdal)
