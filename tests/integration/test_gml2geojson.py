"""`veldra gml2geojson` as a user meets it: previews of real answers and usage errors (bad files are
in test_bad_input)."""
import json

from fixture import shared_file, veldra


def run(*args):
    return veldra("gml2geojson", *args)


def test_parcel_preview_lies_in_poland():
    r = run(shared_file("samples/egib_wfs/dzialki_uslugazbiorcza_022602_wfs20_pl1992.xml"), "--data-type", "0")
    assert r.returncode == 0, r.stderr
    doc = json.loads(r.stdout)
    assert r.stdout.isascii()
    assert doc["type"] == "FeatureCollection"
    (f,) = doc["features"]
    assert f["geometry"]["type"] == "Polygon"
    assert f["properties"]["_kind"] == "dzialka"
    assert f["properties"]["_typ"] == "dzialki"
    for lon, lat in f["geometry"]["coordinates"][0]:
        assert 14.0 < lon < 24.2 and 49.0 < lat < 55.0


def test_usage_errors(tmp_path):
    assert run().returncode == 2
    assert run(tmp_path / "missing.xml").returncode == 1
    p = tmp_path / "x.xml"
    p.write_text("<a/>")
    for bad in ["x", "20", "-1", "3x"]:
        r = run(p, "--data-type", bad)
        assert r.returncode == 2 and "--data-type" in r.stderr
