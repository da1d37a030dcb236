"""Black-box tests of `veldra lazinfo` and `veldra laz2e57` (what laz2e57 writes is read back by an
independent reader in the interop tests; bad files and arguments are in test_bad_input)."""
from cloudfiles import write_las
from fixture import veldra as run


def point_lines(stdout):
    lines = stdout.splitlines()
    i = lines.index("points (x y z red green blue class):")
    return [l.split() for l in lines[i + 1:]]


def test_lazinfo_header_and_points(tmp_path):
    f = tmp_path / "a.las"
    # Format 1: grey from the intensity's high byte; class byte taken whole.
    write_las(f, 1, [(100, 250, -300, 0x7F01, 2), (0, 0, 0, 0xFFFF, 0x82), (5, 5, 5, 0, 9)],
              scale=(0.01, 0.01, 0.001), offset=(500000.0, 250000.0, 100.0))
    r = run("lazinfo", str(f), "--points", "2")
    assert r.returncode == 0, r.stderr
    facts = dict(l.split(": ", 1) for l in r.stdout.splitlines() if ": " in l)
    want = {"version": "1.2", "point format": "1", "record length": "28", "point count": "3",
            "scale": "0.01 0.01 0.001", "offset": "500000 250000 100", "compressed": "no"}
    assert {k: facts.get(k) for k in want} == want
    pts = point_lines(r.stdout)
    assert len(pts) == 2
    assert [float(v) for v in pts[0][:3]] == [500001.0, 250002.5, 99.7]
    assert pts[0][3:] == ["127", "127", "127", "2"]
    assert pts[1][3:] == ["255", "255", "255", "130"]


def test_lazinfo_empty_file_has_no_points(tmp_path):
    f = tmp_path / "empty.las"
    write_las(f, 0, [])
    r = run("lazinfo", str(f), "--points", "10")
    assert r.returncode == 0, r.stderr
    assert "point count: 0" in r.stdout
    assert "points (" not in r.stdout


def test_laz2e57_unwritable_target(tmp_path):
    good = tmp_path / "g.las"
    write_las(good, 0, [(1, 1, 1, 0, 2)])
    r = run("laz2e57", str(good), "--out", str(tmp_path / "no" / "such" / "dir.e57"))
    assert r.returncode == 1
    assert "Nie mozna zapisac pliku e57." in r.stderr
