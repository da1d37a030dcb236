"""`veldra gml2geojson` as a user meets it: the preview of a real answer (bad files and usage errors
are in test_bad_input)."""
import json

from fixture import shared_file, veldra


def test_parcel_preview_lies_in_poland():
    r = veldra("gml2geojson", shared_file("samples/egib_wfs/dzialki_uslugazbiorcza_022602_wfs20_pl1992.xml"),
               "--data-type", "0")
    assert r.returncode == 0, r.stderr
    assert r.stdout.isascii()
    doc = json.loads(r.stdout)
    (f,) = doc["features"]
    assert (doc["type"], f["geometry"]["type"], f["properties"]["_kind"], f["properties"]["_typ"]) == (
        "FeatureCollection", "Polygon", "dzialka", "dzialki")
    for lon, lat in f["geometry"]["coordinates"][0]:
        assert 14.0 < lon < 24.2 and 49.0 < lat < 55.0
