"""E57 files written by `veldra laz2e57` read back by an independent reader (npm web-e57)."""
import shutil

import pytest

from cloudfiles import read_las, web_e57, write_las
from fixture import NODE_DIR, shared_file, veldra

np = pytest.importorskip("numpy")

pytestmark = pytest.mark.skipif(not shutil.which("node") or not (NODE_DIR / "node_modules" / "web-e57").is_dir(),
                                reason="node or web-e57 missing (npm ci in tests/node)")


def convert_and_check(tmp_path, inputs, points, origin=None, options=()):
    """points: the points laz2e57 must keep (x, y, z, r, g, b, ...) in file order; origin: where
    laz2e57 puts it (the points' minimum corner unless given). Every coordinate must come back as
    the single-precision value of its input, colours exactly, and the scan's record count and
    bounds must agree with the points."""
    out = tmp_path / "out.e57"
    r = veldra("laz2e57", *inputs, "--out", out, *options)
    assert r.returncode == 0, r.stderr
    got, count, bounds = web_e57(out)
    want = (np.array([p[:3] for p in points], dtype=float) - (origin or np.min([p[:3] for p in points], axis=0)))
    want = want.astype(np.float32)
    assert got.shape == (len(points), 6) and count == len(points)
    assert np.array_equal(got[:, :3], want) and np.array_equal(got[:, 3:], [p[3:6] for p in points])
    assert bounds == [(want[:, a].min(), want[:, a].max()) for a in range(3)]


@pytest.mark.parametrize("n", [1, 1057, 1058])
def test_written_files_read_back(tmp_path, n):
    f = tmp_path / "in.las"
    pts = [(i * 37 - 5000, (i * i) % 9973, (i * 13) % 4001 - 2000, 0, 2,
            (i * 256) % 65536, (i * 512 + 255) % 65536, 65535 - (i * 256) % 65536) for i in range(n)]
    decoded, _ = write_las(f, 3, pts, scale=(0.001, 0.001, 0.01), offset=(566000.0, 244000.0, 200.0))
    convert_and_check(tmp_path, [f], decoded)


def test_grey_points_and_several_files(tmp_path):
    a, b = tmp_path / "a.las", tmp_path / "b.las"
    da, _ = write_las(a, 1, [(i, 2 * i, 3 * i, i * 300, 1) for i in range(200)], offset=(500000.0, 600000.0, 0.0))
    db, _ = write_las(b, 2, [(-i, i, 0, 0, 2, 0x1000 * (i % 16), 0, 0xFFFF) for i in range(100)], offset=(500000.0, 600000.0, 0.0))
    convert_and_check(tmp_path, [a, b], da + db)


def test_voxel_thinning_keeps_the_first_point_of_each_voxel(tmp_path):
    f = tmp_path / "v.las"
    # 0.1 m apart in one 0.5 m voxel, then one exactly on the next voxel's boundary.
    pts, _ = write_las(f, 0, [(0, 0, 0, 0, 2), (10, 10, 10, 0, 2), (50, 0, 0, 0, 2)])
    convert_and_check(tmp_path, [f], [pts[0], pts[2]], origin=pts[0][:3], options=("--voxel", "0.5"))
    convert_and_check(tmp_path, [f], pts, options=("--voxel", "0"))


@pytest.mark.parametrize("name,twin", [
    ("lidar/laspy/simple.las", None),
    ("lidar/laz-perf/autzen_trim.las", None),
    ("lidar/laz-perf/autzen_trim.laz", "lidar/laz-perf/autzen_trim.las"),  # compressed, checked against its LAS twin
])
def test_shared_samples(tmp_path, name, twin):
    path = shared_file(name)
    pts, mins, _ = read_las(shared_file(twin) if twin else path)
    # laz2e57 puts the origin at the header's minimum corner, which need not be the points' own.
    convert_and_check(tmp_path, [path], pts, origin=mins)
