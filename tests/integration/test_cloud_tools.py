"""Black-box test of `veldra lazinfo` (what laz2e57 writes is read back by an independent reader in
the interop tests; bad files, empty files and arguments are in test_bad_input)."""
from cloudfiles import write_las
from fixture import veldra as run


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
    lines = r.stdout.splitlines()
    first, second = (l.split() for l in lines[lines.index("points (x y z red green blue class):") + 1:])
    assert [float(v) for v in first[:3]] == [500001.0, 250002.5, 99.7]
    assert (first[3:], second[3:]) == (["127", "127", "127", "2"], ["255", "255", "255", "130"])
