"""`veldra roof-fit` refuses input it cannot read with a clear reason and status 2."""
import pytest

from fixture import veldra

GOOD_FP = "0 0 100\n10 0 100\n10 6 100\n0 6 100\n"
GOOD_PTS = "".join(f"{x * 0.5} {y * 0.5} 106\n" for x in range(20) for y in range(12))


@pytest.mark.parametrize("points,footprint,extra,reason", [
    (None, GOOD_FP, [], "nie mozna odczytac"),
    (GOOD_PTS, "0 0\n10 0\n", [], "mniej niz 3"),
    (GOOD_PTS, "0 0\n10 0\n0 6\n10 6\n", [], "prostym wielokatem"),          # crossing edges
    (GOOD_PTS, "0 0\n5 0\n10 0\n", [], "prostym wielokatem"),                 # all on one line
    ("1 2 3\n1 2 x\n", GOOD_FP, [], "wiersz 2"),
    ("1 2 nan\n", GOOD_FP, [], "wiersz 1"),
    (GOOD_PTS, GOOD_FP, ["--ground", "inf"], "--ground"),
    (GOOD_PTS, GOOD_FP, ["--type", "Gable"], "nieznany typ"),
])
def test_bad_input_is_refused(points, footprint, extra, reason, tmp_path):
    fp = tmp_path / "fp.xyz"
    fp.write_text(footprint)
    pts = tmp_path / "pts.xyz"
    if points is not None:
        pts.write_text(points)
    r = veldra("roof-fit", "--points", pts, "--footprint", fp, *extra)
    assert r.returncode == 2
    assert reason in r.stderr
    assert r.stdout == ""
