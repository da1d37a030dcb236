"""The cloud palette's download (`veldra cloud`, the palette's worker) of a real LAZ tile served by
the fixture server, read back by an independent E57 reader (npm web-e57) and checked against the
tile as the laz-perf WebAssembly decoder reads it, moved into the frame's zone by PROJ."""
import re
import shutil

import pytest

from cloudfiles import LIDAR_INDEX, LIDAR_TILES, lazperf_points, lidar_index, web_e57
from fixture import NODE_DIR, private_env, serve, shared_file, veldra
import test_fetch_pipeline as fp

np = pytest.importorskip("numpy")

pytestmark = pytest.mark.skipif(
    not shutil.which("node") or not all((NODE_DIR / "node_modules" / m).is_dir() for m in ("web-e57", "laz-perf")),
    reason="node, web-e57 or laz-perf missing (npm ci in tests/node)")


def proj(src, dst, pts):
    """Points of src in its own axis order as (easting, northing) of dst, by PROJ."""
    return np.array(fp.to_east_north(src, dst, pts))


def test_downloaded_cloud_matches_the_tile(tmp_path):
    laz = shared_file("lidar/laz-perf/autzen_trim.laz")
    rec, xyz, _ = lazperf_points(laz, tmp_path)
    rgb = rec[:, 28:34].copy().view("<u2") >> 8   # point format 3
    # The tile is served as PL-1992; the frame takes its inner part, given in degrees as the page does.
    inner = [(849050.0, 636300.0), (849400.0, 636900.0)]   # northing, easting
    lonlat = proj("EPSG:2180", "EPSG:4326", [(n, e) for n in (inner[0][0], inner[1][0]) for e in (inner[0][1], inner[1][1])])
    (west, south), (east, north) = lonlat.min(axis=0), lonlat.max(axis=0)
    en = proj("EPSG:4326", "EPSG:2180", [(lat, lon) for lat in (south, north) for lon in (west, east)])
    lo, hi = en.min(axis=0), en.max(axis=0)   # the frame in PL-1992

    routes = [fp.route(LIDAR_INDEX, lidar_index([(LIDAR_TILES + "autzen.laz", "PL-1992")], density=4)),
              fp.route("/opendata/lidar/autzen.laz", body_file="autzen.laz")]
    out = tmp_path / "out.e57"
    with serve(tmp_path, routes, {"autzen.laz": laz.read_bytes()}) as fx:
        r = veldra("cloud", "--bbox", f"{west!r},{south!r},{east!r},{north!r}", "--detail", "full", "--out", out,
                   env={**fx.env(), **private_env(tmp_path / "home")})
    assert r.returncode == 0, r.stdout + r.stderr
    m = re.search(r"wrote (\d+) points to .* \(EPSG:(\d+), origin (\S+) (\S+) (\S+)\)", r.stdout)
    count, zone, off = int(m.group(1)), m.group(2), np.array([float(m.group(3)), float(m.group(4))])

    got, recorded, bounds = web_e57(out)
    assert recorded == count and len(got) == count

    # Points within a centimetre of the frame's edge may fall either way; none may come first.
    margin = 0.01
    outer = np.all((xyz[:, :2] >= lo - margin) & (xyz[:, :2] <= hi + margin), axis=1)
    strict = np.all((xyz[:, :2] > lo + margin) & (xyz[:, :2] < hi - margin), axis=1)
    assert strict.sum() <= count <= outer.sum()
    keep = np.flatnonzero(outer)
    first = min(1000, count)
    assert strict[keep[:first]].all(), "choose a frame without edge points among the first ones"
    want = proj("EPSG:2180", f"EPSG:{zone}", xyz[keep[:first], 1::-1]) - off
    assert np.abs(got[:first, :2] - want).max() < 0.05
    assert np.abs(got[:first, 2] - xyz[keep[:first], 2]).max() < 1e-3
    assert np.array_equal(got[:first, 3:], rgb[keep[:first]])
    for a in range(3):
        assert bounds[a] == pytest.approx((got[:, a].min(), got[:, a].max()), abs=1e-3), a
    # Every point kept lies in the frame's rectangle in the zone, give or take the projection.
    corners = proj("EPSG:2180", f"EPSG:{zone}", [(n, e) for n in (lo[1], hi[1]) for e in (lo[0], hi[0])]) - off
    assert (got[:, :2].min(axis=0) >= corners.min(axis=0) - 0.05).all() and (got[:, :2].max(axis=0) <= corners.max(axis=0) + 0.05).all()
