"""County WFS access and the municipality lookup of the veldra binary against
`veldra mock-services`, fed with recorded service answers copied from the shared sample
folder at run time (the logic itself is unit-tested in tests/unit/net)."""


import fixture
from fixture import serve, shared_file
from test_fetch_pipeline import PRG, prg

BUILDING = "egib_wfs/budynki_geoportal_gml_building_2180_crs.xml"  # x 260658..260684, y 382870..382896
NO_BUILDING = "egib_wfs/budynki_geoportal2_gml_no_building.xml"
HITS_14 = "registry/ru_app-mpzp_hits_146501_wfs20.xml"
PRG_COUNTIES = "prg/a02_powiaty_two_counties_propertyname_wfs20.xml"

COUNTY = "https://egib.powiat.example"
COUNTY_WFS = COUNTY + "/wfs"
LOCAL_WFS = "/powiat/wfs"


def recorded(*names):
    return {n: shared_file("samples/" + n).read_bytes() for n in names}


def veldra(fx, *args, timeout=60):
    r = fixture.veldra(*args, env=fx.env(), timeout=timeout)
    return r.returncode, r.stdout.splitlines(), r.stderr


def buildings(fx, bbox, *more):
    return veldra(fx, "wfs-features", COUNTY_WFS, "ms:budynki", bbox, "--kind", "budynki", *more)


def county(tmp_path, routes, files=None):
    return serve(tmp_path, routes, files, extra=[(COUNTY, "powiat")])


def test_variant_that_worked_is_remembered_and_its_tiles_reused(tmp_path):
    files = recorded(BUILDING, NO_BUILDING)
    routes = [
        {"name": "easting-first", "path": LOCAL_WFS,
         "query_includes": {"BBOX": "260600,382800,260800,383000,urn:ogc:def:crs:EPSG::2180"}, "body_file": BUILDING},
        {"name": "other", "path": LOCAL_WFS, "body_file": NO_BUILDING},
    ]
    with county(tmp_path, routes, files) as fx:
        code, out, err = buildings(fx, "260600,382800,260800,383000", "--rounds", "3", "--out", tmp_path / "b.geojson")
        assert code == 0, err
        assert out == ["round %d features 1 strategy 2 tiles 1" % r for r in (1, 2, 3)]
        st = fx.stats()
        assert st["routes"] == {"other": 1, "easting-first": 1}
        assert "BBOX=382800%2C260600" in st["requests"][0]["query"]
        geojson = (tmp_path / "b.geojson").read_text()
        assert '"_kind":"budynek"' in geojson and "020101_1.0009.522_BUD" in geojson


def test_whole_layer_fallback_after_a_recorded_hits_answer(tmp_path):
    files = recorded(BUILDING, NO_BUILDING, HITS_14)
    routes = [
        {"name": "hits", "path": LOCAL_WFS, "query_includes": {"resultType": "hits"}, "body_file": HITS_14},
        {"name": "layer", "path": LOCAL_WFS,
         "query": {"service": "WFS", "version": "2.0.0", "request": "GetFeature", "typenames": "ms:budynki"},
         "body_file": BUILDING},
        {"name": "tiles", "path": LOCAL_WFS, "body_file": NO_BUILDING},
    ]
    with county(tmp_path, routes, files) as fx:
        code, out, err = buildings(fx, "260600,382800,260800,383000")
        assert code == 0, err
        assert out == ["round 1 features 1 strategy 0 tiles 1"]
        assert fx.stats()["routes"] == {"tiles": 4, "hits": 1, "layer": 1}
        # beside the building: the layer comes from the cache and is filtered away
        code, out, err = buildings(fx, "268000,382800,268200,383000")
        assert out == ["round 1 features 0 strategy 0 tiles 1"]
        # (one more request: with nothing found the command asks whether the service answers at all)
        assert fx.stats()["routes"] == {"tiles": 9, "hits": 2, "layer": 1}


def test_building_on_a_tile_edge_is_kept_once(tmp_path):
    files = recorded(BUILDING)
    with county(tmp_path, [{"path": LOCAL_WFS, "body_file": BUILDING}], files) as fx:
        code, out, err = buildings(fx, "260171,382700,261171,383000")
        assert code == 0, err
        assert out == ["round 1 features 1 strategy 1 tiles 2"]
        assert fx.stats()["total"] == 2


def test_recorded_county_answer_leads_to_the_capabilities(tmp_path):
    files = recorded(PRG_COUNTIES)
    routes = [
        {"name": "caps", "path": PRG, "query_includes": {"request": "GetCapabilities"},
         "body": "<WFS_Capabilities><Name>ms:A02_Granice_powiatow</Name><Name>ms:Gminy_obrony</Name>"
                 "<Name>ms:A03_Granice_gmin_v2</Name></WFS_Capabilities>"},
        {"name": "gminy", "path": PRG, "query_includes": {"typenames": "ms:A03_Granice_gmin_v2"},
         "body": prg("1816052")},
        {"name": "recorded", "path": PRG, "body_file": PRG_COUNTIES},
    ]
    with county(tmp_path, routes, files) as fx:
        code, out, err = veldra(fx, "teryt", "200000,300000,200100,300100", "400000,500000,400100,500100")
        assert code == 0, err
        assert out.count("teryt 181605") == 2
        assert out[-1] == "layer ms:A03_Granice_gmin_v2"
        assert fx.stats()["routes"] == {"recorded": 1, "caps": 1, "gminy": 2}
