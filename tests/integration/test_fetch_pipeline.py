"""The fetch pipeline through `veldra bridge map` against `veldra mock-services`:
one scenario per phase and per note, checking the progress messages, the counts,
the warning and the preview of "fetchDone", and the report lines (standard error)."""

import json
import math
import time
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from bridge_cli import run_bridge  # noqa: E402
from fixture import MockServices, write_manifest  # noqa: E402

# A frame of about 210 m x 220 m in PL-2000 zone 7.
WEST, SOUTH, EAST, NORTH = 21.500, 51.500, 21.503, 51.502

PRG = "/mapy/wss/service/PZGIK/PRG/WFS/AdministrativeBoundaries"
NMT_INDEX = "/mapy/wss/service/PZGIK/NumerycznyModelTerenuEVRF2007/WFS/Skorowidze"
BDOT10K = "/mapy/wss/service/PZGIK/BDOT10k/WFS/NoweBudynki"
ORTHO = "/mapy/wss/service/PZGIK/ORTO/WMS/StandardResolution"
REGISTRY_QUERY = "/rejestr/api/public/published/query"
LUBLIN = ("https://gis.lublin.eu", "lublin")              # county 0663: EGiB WFS and BDOT500 WMS
RZESZOW = ("https://powiatrzeszowski.geoportal2.pl", "rzeszow")   # county 1816: GESUT WMS only
HYZNE = ("https://mpzp.igeomap.pl", "igeomap")            # municipality 181607: MPZP WMS
EGIB_WFS = "/lublin/opendata/wfs"
BDOT500_WMS = "/lublin/integracja/bdot500/"
GESUT_WMS = "/rzeszow/map/geoportal/wmsg.php"
MPZP_WMS = "/igeomap/cgi-bin/plany/181607/001"
NMT_FILE = "/opendata/NumDaneWys/NMT/sheet.asc"

PNG = b"\x89PNG\r\n\x1a\n" + b"\0" * 24
WMS_XML_ERROR = ('<?xml version="1.0"?><ServiceExceptionReport version="1.1.1"><ServiceException>'
                 'msDrawMap(): Image handling error</ServiceException></ServiceExceptionReport>')
CAPS_QUERY = {"request": "GetCapabilities"}
MAP_QUERY = {"request": "GetMap"}


def pl1992_corners(points):
    """PL-1992 images (easting, northing) of (lat, lon) points, by PROJ."""
    r = subprocess.run(["cs2cs", "-f", "%.6f", "EPSG:4326", "EPSG:2180"], check=True, capture_output=True, text=True,
                       input="".join(f"{lat} {lon}\n" for lat, lon in points), timeout=60)
    return [(float(e), float(n)) for n, e, *_ in (line.split() for line in r.stdout.splitlines())]


CORNERS = pl1992_corners(((SOUTH, WEST), (NORTH, EAST), (NORTH, WEST), (SOUTH, EAST)))
MIN_X, MAX_X = min(c[0] for c in CORNERS), max(c[0] for c in CORNERS)
MIN_Y, MAX_Y = min(c[1] for c in CORNERS), max(c[1] for c in CORNERS)
CX, CY = (MIN_X + MAX_X) / 2, (MIN_Y + MAX_Y) / 2


def prg(code7):
    return ('<wfs:FeatureCollection xmlns:wfs="http://www.opengis.net/wfs/2.0" '
            'xmlns:gml="http://www.opengis.net/gml/3.2" xmlns:ms="http://mapserver.gis.umn.edu/mapserver">'
            f'<wfs:member><ms:A03_Granice_gmin><ms:JPT_KOD_JE>{code7}</ms:JPT_KOD_JE><ms:msGeometry>'
            '<gml:Polygon srsName="urn:ogc:def:crs:EPSG::2180"><gml:exterior><gml:LinearRing><gml:posList>'
            '300000 200000 300000 210000 310000 210000 300000 200000</gml:posList></gml:LinearRing></gml:exterior>'
            '</gml:Polygon></ms:msGeometry></ms:A03_Granice_gmin></wfs:member></wfs:FeatureCollection>')


def gml(type_name, features, lines=False):
    """features: list of (id, dx, dy) squares of 10 m around centre + (dx, dy), or 10 m lines
    eastwards from there; northing first."""
    members = ""
    for fid, dx, dy in features:
        x, y = CX + dx, CY + dy
        if lines:
            pos = f"{y:.2f} {x:.2f} {y:.2f} {x + 10:.2f}"
            geometry = f'<gml:LineString srsName="urn:ogc:def:crs:EPSG::2180"><gml:posList>{pos}</gml:posList></gml:LineString>'
        else:
            ring = [(x - 5, y - 5), (x + 5, y - 5), (x + 5, y + 5), (x - 5, y + 5), (x - 5, y - 5)]
            pos = " ".join(f"{n:.2f} {e:.2f}" for e, n in ring)
            geometry = ('<gml:Polygon srsName="urn:ogc:def:crs:EPSG::2180"><gml:exterior><gml:LinearRing>'
                        f'<gml:posList>{pos}</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>')
        members += (f'<wfs:member><{type_name} gml:id="{fid}"><ms:ID>{fid}</ms:ID><ms:msGeometry>'
                    f'{geometry}</ms:msGeometry></{type_name}></wfs:member>')
    return ('<wfs:FeatureCollection xmlns:wfs="http://www.opengis.net/wfs/2.0" '
            'xmlns:gml="http://www.opengis.net/gml/3.2" xmlns:ms="http://mapserver.gis.umn.edu/mapserver">'
            + members + '</wfs:FeatureCollection>')


def wms_caps(*names, srs="EPSG:2180"):
    layers = "".join(f"<Layer><Name>{n}</Name><Title>{n}</Title></Layer>" for n in names)
    return (f'<WMT_MS_Capabilities version="1.1.1"><Service><Name>WMS</Name></Service><Capability>'
            f'<Layer><Title>root</Title><SRS>{srs}</SRS>{layers}</Layer></Capability></WMT_MS_Capabilities>')


def nmt_index(url):
    return ('<wfs:FeatureCollection xmlns:wfs="http://www.opengis.net/wfs/2.0" xmlns:gugik="http://www.gugik.gov.pl">'
            '<wfs:member><gugik:SkorowidzNMT2027><gugik:godlo>N-34-1</gugik:godlo>'
            f'<gugik:url_do_pobrania>{url}</gugik:url_do_pobrania></gugik:SkorowidzNMT2027></wfs:member>'
            '</wfs:FeatureCollection>')


EMPTY_COLLECTION = '<wfs:FeatureCollection xmlns:wfs="http://www.opengis.net/wfs/2.0"></wfs:FeatureCollection>'


def asc_ramp(nodata=False):
    """A sheet around the frame rising 0.05 m per metre eastwards (or all NODATA)."""
    cell, n = 20.0, 40
    x0, y0 = math.floor(MIN_X) - 200, math.floor(MIN_Y) - 200
    rows = []
    for _ in range(n):
        rows.append(" ".join("-9999" if nodata else f"{100 + 0.05 * (x0 + (c + 0.5) * cell - MIN_X):.3f}"
                             for c in range(n)))
    return (f"ncols {n}\nnrows {n}\nxllcorner {x0}\nyllcorner {y0}\ncellsize {cell}\nNODATA_value -9999\n"
            + "\n".join(rows) + "\n")


def route(path, body=None, name=None, query=None, status=200, **kw):
    r = {"path": path, "status": status, "query_keys_nocase": True}
    if body is not None:
        r["body"] = body
    if query:
        r["query_includes"] = query
    if name:
        r["name"] = name
    r.update(kw)
    return r


def fetch(tmp_path, routes, layers, files=None, extra=(), cancel=False, services=None, **params):
    """services: text of the user's own service directory file, when given."""
    root = write_manifest(tmp_path / "fx", routes, files)
    config = tmp_path / "home" / "config"
    if services is not None:
        folder = config / "VELDRA"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "services.tsv").write_text(services, encoding="utf-8")
    msg = {"type": "fetch", "bboxWgs84": [WEST, SOUTH, EAST, NORTH], "layers": layers, "rasterScale": 1000,
           "terrainStep": 1, "poziomiceCiecie": 1.0}
    msg.update(params)
    lines = [msg] + ([{"type": "cancel"}] if cancel else [])
    with MockServices(root, tmp_path, extra_rewrites=list(extra)) as fx:
        run = run_bridge(lines, env=fx.env({"XDG_CONFIG_HOME": str(config)}), home=str(tmp_path / "home"))
        stats = fx.stats()
    assert run.returncode == 0, run.stderr
    [done] = run.of_type("fetchDone")
    assert run.messages[-1] is done or cancel
    return run, done, stats


def progress(run):
    return [(m["label"], m["done"], m["total"]) for m in run.of_type("progress")]


def requests_to(stats, path):
    return [r for r in stats["requests"] if r["path"] == path]


def query_value(req, key):
    for pair in req["query"].split("&"):
        k, _, v = pair.partition("=")
        if k.lower() == key.lower():
            return v
    return None


# Phase 1: cadastre -------------------------------------------------------------------------------

def test_county_without_egib_wfs_gives_both_notes_and_empty_counts(tmp_path):
    run, done, _ = fetch(tmp_path, [route(PRG, prg("9999011"))], ["dzialki"])
    assert done == {"type": "fetchDone", "counts": {},
                    "warning": "Powiat (TERYT 9999) nie publikuje WFS EGiB w EZiU. Brak dzialek dla tego obszaru."}
    assert "VELDRA: Powiat (TERYT 9999)" in run.stderr


def test_unknown_municipality_and_silent_bdot10k(tmp_path):
    run, done, stats = fetch(tmp_path, [route(PRG, status=404), route(BDOT10K, status=503)], ["dzialki", "budynki"])
    assert done["warning"] == "Nie udalo sie ustalic powiatu dla widoku. Brak dzialek dla tego obszaru."
    assert done["counts"] == {}
    assert requests_to(stats, BDOT10K), "buildings fall back to BDOT10k"
    assert "Import: budynki (BDOT10k)" in [p[0] for p in progress(run)]


def egib_routes(parcels, buildings, bdot10k):
    caps = ('<wfs:WFS_Capabilities version="2.0.0"><FeatureTypeList><FeatureType><Name>ms:dzialki</Name>'
            '</FeatureType><FeatureType><Name>ms:budynki</Name></FeatureType></FeatureTypeList>'
            '</wfs:WFS_Capabilities>')
    return [route(PRG, prg("0663011")),
            route(EGIB_WFS, caps, name="caps", query=CAPS_QUERY),
            route(EGIB_WFS, gml("ms:dzialki", parcels), name="parcels", query={"typenames": "ms:dzialki"}),
            route(EGIB_WFS, gml("ms:budynki", buildings), name="buildings", query={"typenames": "ms:budynki"}),
            route(BDOT10K, gml("ms:bud_2025", bdot10k), name="bdot10k")]


def test_parcels_from_the_county_and_buildings_from_bdot10k(tmp_path):
    run, done, stats = fetch(tmp_path, egib_routes([("d1", 0, 0)], [], [("b1", 20, 0)]), ["dzialki", "budynki"],
                             extra=[LUBLIN])
    assert done["counts"] == {"dzialki": 1, "budynki": 1}
    assert done["warning"] == (
        "Powiatowa usluga zwraca dzialki, ale nie filtruje budynkow po obszarze (blad konfiguracji serwera "
        "powiatu - np. Zabrze). Budynki z BDOT10k NoweBudynki (fallback - tylko nowe obiekty).")
    preview = json.loads(done["geojson"])
    assert [f["properties"]["_kind"] for f in preview["features"]] == ["dzialka", "budynek"]
    assert ("VELDRA EGiB [TERYT 066301] https://gis.lublin.eu/opendata/wfs | tn.dzialki='ms:dzialki' -> 1 | "
            "tn.budynki='ms:budynki' -> 0") in run.stderr
    labels = [p[0] for p in progress(run)]
    assert labels.index("Import: dzialki") < labels.index("Import: budynki") < labels.index("Import: budynki (BDOT10k)")
    # The BDOT10k request is a WFS 2.0 GetFeature of the new buildings.
    assert query_value(requests_to(stats, BDOT10K)[0], "typenames") == "ms%3Abud_2025"


def test_county_buildings_need_no_fallback(tmp_path):
    _, done, stats = fetch(tmp_path, egib_routes([], [("b1", 0, 0), ("b2", 30, 30)], []), ["budynki"], extra=[LUBLIN])
    assert done["counts"] == {"budynki": 2}
    assert "warning" not in done
    assert not requests_to(stats, BDOT10K)


# Phases 2 and 3: general plan and local plans ----------------------------------------------------

def registry(acts_body, zones=None):
    routes = [route(PRG, prg("1816071")), route(REGISTRY_QUERY, acts_body, method="POST", name="acts")]
    if zones is not None:
        routes.append(route("/rejestr/api/public/published/A1/download", gml("ms:StrefaPlanistyczna", zones)))
    return routes


ACTS = json.dumps({"publishedActs": [{"publishedActId": "A1", "planType": "MUNICIPAL_GENERAL_PLAN",
                                      "spatialPlanningActStatus": "obowiazujacy", "publishDate": "2025-05-01"}]})


def test_registry_answer_without_published_acts(tmp_path):
    _, done, stats = fetch(tmp_path, registry('{"content": []}'), ["pog"])
    assert done["warning"] == ("Brak POG dla gminy 181607 (Plan Ogolny jeszcze nieuchwalony w Rejestrze "
                               "Urbanistycznym).")
    assert stats["routes"]["acts"] == 3


def test_general_plan_zones_outside_the_frame(tmp_path):
    _, done, _ = fetch(tmp_path, registry(ACTS, [("z1", 5000, 0)]), ["pog"])
    assert done["warning"] == "POG gminy 181607: akt jest, ale zadna strefa nie wpada w kadr."
    assert done["counts"] == {}


def test_general_plan_keeps_the_zones_in_the_frame(tmp_path):
    _, done, _ = fetch(tmp_path, registry(ACTS, [("z1", 0, 0), ("z2", 5000, 0)]), ["pog"])
    assert done["counts"] == {"pog": 1}
    assert "warning" not in done
    assert [f["properties"]["_kind"] for f in json.loads(done["geojson"])["features"]] == ["pog"]


def test_no_municipality_skips_both_plans_with_one_note(tmp_path):
    _, done, stats = fetch(tmp_path, [route(PRG, EMPTY_COLLECTION)], ["mpzp", "pog"])
    assert done["warning"] == "MPZP/POG pominiete: nie udalo sie ustalic gminy (TERYT) dla widoku."
    assert not requests_to(stats, REGISTRY_QUERY)


def mpzp_routes(map_body, caps):
    return [route(PRG, prg("1816071")), route(MPZP_WMS, caps, query=CAPS_QUERY),
            route(MPZP_WMS, query=MAP_QUERY, name="map", body_file="map.bin")], {"map.bin": map_body}


def test_local_plan_drawing_layers_in_the_advertised_zone(tmp_path):
    routes, files = mpzp_routes(PNG, wms_caps("granice", "Rysunek_Planu", "obrysy", srs="EPSG:2178 EPSG:2180"))
    run, done, stats = fetch(tmp_path, routes, ["mpzp"], files=files, extra=[HYZNE])
    assert done["counts"] == {"mpzp (rastr)": 1}
    assert done["warning"] == "MPZP: pobrano rysunek planu (rastr) z uslugi gminnej dla 181607."
    [req] = [r for r in requests_to(stats, MPZP_WMS) if query_value(r, "request") == "GetMap"]
    assert query_value(req, "layers") == "Rysunek_Planu"
    assert query_value(req, "SRS") == "EPSG%3A2178"
    assert "VELDRA: rastr mpzp: kadr " in run.stderr and "gestosc 0.280000 m/px (1:1000), platki 1x1" in run.stderr


def test_local_plan_layers_without_drawing_drop_the_auxiliary_ones(tmp_path):
    routes, files = mpzp_routes(PNG, wms_caps("granice_planow", "plan_a", "zasieg", "plan_b"))
    _, done, stats = fetch(tmp_path, routes, ["mpzp"], files=files, extra=[HYZNE])
    [req] = [r for r in requests_to(stats, MPZP_WMS) if query_value(r, "request") == "GetMap"]
    assert query_value(req, "layers") == "plan_a%2Cplan_b"
    assert query_value(req, "SRS") == "EPSG%3A2180"


def test_local_plan_service_answering_xml_to_getmap(tmp_path):
    routes, files = mpzp_routes(WMS_XML_ERROR.encode(), wms_caps("rysunek"))
    _, done, stats = fetch(tmp_path, routes, ["mpzp"], files=files, extra=[HYZNE], rasterScale=500)
    assert done["warning"] == "MPZP gminy 181607: usluga WMS nie odpowiada albo nie ma rysunku planu."
    assert done["counts"] == {}
    widths = [int(query_value(r, "WIDTH")) for r in requests_to(stats, MPZP_WMS) if query_value(r, "WIDTH")]
    assert len(widths) == 2 and widths[1] == widths[0] // 2, widths


# Phases 4 and 5: utilities and base map ----------------------------------------------------------

def test_utilities_as_raster_from_the_county_wms(tmp_path):
    routes = [route(PRG, prg("1816051")), route(GESUT_WMS, wms_caps("gesut_przewody", "gesut_strefa", "ewidencja"),
                                                 query=CAPS_QUERY),
              route(GESUT_WMS, query=MAP_QUERY, body_file="map.bin")]
    _, done, stats = fetch(tmp_path, routes, ["gesut"], files={"map.bin": PNG}, extra=[RZESZOW])
    assert done == {"type": "fetchDone", "counts": {"gesut (rastr)": 1},
                    "warning": "GESUT jako rastr (WMS powiatowy) - brak WFS lub brak przewodow w WFS."}
    [req] = [r for r in requests_to(stats, GESUT_WMS) if query_value(r, "request") == "GetMap"]
    assert query_value(req, "layers") == "gesut_przewody"


GESUT_WFS = "/rzeszow/wfs/gesut"
GESUT_WFS_CAPS = ('<wfs:WFS_Capabilities version="2.0.0"><FeatureTypeList>'
                  '<FeatureType><Name>gesut:przewod_wodociagowy</Name></FeatureType>'
                  '<FeatureType><Name>gesut:urzadzenia</Name></FeatureType>'
                  '<FeatureType><Name>gesut:przewod_gazowy</Name></FeatureType>'
                  '</FeatureTypeList></wfs:WFS_Capabilities>')


def gesut_wfs_routes(water, gas):
    return [route(PRG, prg("1816051")),
            route(GESUT_WFS, GESUT_WFS_CAPS, query=CAPS_QUERY),
            route(GESUT_WFS, gml("gesut:przewod_wodociagowy", water, lines=True),
                  query={"typenames": "gesut:przewod_wodociagowy"}),
            route(GESUT_WFS, gml("gesut:przewod_gazowy", gas, lines=True), query={"typenames": "gesut:przewod_gazowy"}),
            route(GESUT_WMS, wms_caps("gesut_przewody"), query=CAPS_QUERY),
            route(GESUT_WMS, query=MAP_QUERY, body_file="map.bin")]


def local_gesut(wms):
    return ("# the county's own services, added by hand\n"
            f"gesut\t1816\t{wms}\thttps://powiatrzeszowski.geoportal2.pl/wfs/gesut\n")


def test_utilities_from_a_county_wfs_of_the_users_directory(tmp_path):
    run, done, stats = fetch(tmp_path, gesut_wfs_routes([("w1", 0, 0), ("w2", 0, 20)], [("g1", 0, -20)]), ["gesut"],
                             files={"map.bin": PNG}, extra=[RZESZOW],
                             services=local_gesut("https://powiatrzeszowski.geoportal2.pl/map/geoportal/wmsg.php"))
    assert done["counts"] == {"gesut": 3}
    assert "warning" not in done
    # Only the pipe layers are asked for, and every feature keeps the layer it came from.
    asked = {query_value(r, "typenames") for r in requests_to(stats, GESUT_WFS) if query_value(r, "typenames")}
    assert asked == {"gesut%3Aprzewod_wodociagowy", "gesut%3Aprzewod_gazowy"}
    preview = json.loads(done["geojson"])
    assert sorted(f["properties"].get("rodzajSieci") for f in preview["features"]) == [
        "gesut:przewod_gazowy", "gesut:przewod_wodociagowy", "gesut:przewod_wodociagowy"]
    assert not requests_to(stats, GESUT_WMS)   # features found: no rendering
    assert "GESUT (WFS)" in {p[0] for p in progress(run)}


def test_county_wfs_without_pipes_falls_back_to_the_wms(tmp_path):
    _, done, stats = fetch(tmp_path, gesut_wfs_routes([], []), ["gesut"], files={"map.bin": PNG}, extra=[RZESZOW],
                           services=local_gesut("https://powiatrzeszowski.geoportal2.pl/map/geoportal/wmsg.php"))
    assert done["counts"] == {"gesut (rastr)": 1}
    assert done["warning"] == "GESUT jako rastr (WMS powiatowy) - brak WFS lub brak przewodow w WFS."
    # One tiled request per pipe layer: no other request variants, no whole-layer download.
    gets = [r for r in requests_to(stats, GESUT_WFS) if query_value(r, "typenames")]
    assert len(gets) == 2 and all(query_value(r, "bbox") for r in gets)


def test_county_wfs_without_pipes_and_without_wms_gives_no_note(tmp_path):
    # The user's row names a WFS only; it replaces the compiled row, WMS included.
    _, done, stats = fetch(tmp_path, gesut_wfs_routes([], []), ["gesut"], files={"map.bin": PNG}, extra=[RZESZOW],
                           services=local_gesut("-"))
    # Only the completion's own text for an empty result: the phase adds nothing.
    assert done == {"type": "fetchDone", "counts": {}, "warning": "Nic nie pobrano dla tego obszaru."}
    assert requests_to(stats, GESUT_WFS)
    assert not requests_to(stats, GESUT_WMS)


def test_refused_rows_of_the_users_directory_are_reported_and_skipped(tmp_path):
    run, done, _ = fetch(tmp_path, [route(PRG, prg("0201011"))], ["gesut"],
                         services="gesut\t0201\thttps://a b.pl/wms\n")
    assert "VELDRA: services.tsv, wiersz 1: niepoprawny adres uslugi" in run.stderr
    assert done["warning"] == "GESUT: powiat nie publikuje uslugi w EZiU."


def test_utilities_service_without_answer(tmp_path):
    routes = [route(PRG, prg("1816051")), route(GESUT_WMS, status=500)]
    _, done, _ = fetch(tmp_path, routes, ["gesut"], extra=[RZESZOW])
    assert done["warning"] == "GESUT: powiatowa usluga nie odpowiada."


def base_map(tmp_path, map_body, scale):
    routes = [route(PRG, prg("0663011")), route(BDOT500_WMS, wms_caps("bdot500_budowle", "inne"), query=CAPS_QUERY),
              route(BDOT500_WMS, query=MAP_QUERY, body_file="map.bin")]
    return fetch(tmp_path, routes, ["bdot500"], files={"map.bin": map_body}, extra=[LUBLIN], rasterScale=scale)


def test_base_map_scale_out_of_range_uses_1000(tmp_path):
    run, done, stats = base_map(tmp_path, PNG, 50)
    assert done == {"type": "fetchDone", "counts": {"bdot500 (rastr)": 1}}
    [req] = [r for r in requests_to(stats, BDOT500_WMS) if query_value(r, "request") == "GetMap"]
    assert query_value(req, "layers") == "bdot500_budowle"
    assert abs(int(query_value(req, "WIDTH")) - (MAX_X - MIN_X) / 0.28) <= 1.5
    assert "gestosc 0.280000 m/px (1:1000)" in run.stderr


def test_base_map_service_answering_xml(tmp_path):
    _, done, _ = base_map(tmp_path, WMS_XML_ERROR.encode(), 500)
    assert done["warning"] == "BDOT500: usluga WMS nie odpowiada."


# Phase 6: orthophoto ------------------------------------------------------------------------------

def test_orthophoto_in_the_project_zone_at_a_quarter_metre(tmp_path):
    routes = [route(ORTHO, body_file="map.bin")]
    run, done, stats = fetch(tmp_path, routes, ["rastr"], files={"map.bin": PNG}, rasterScale=5000)
    assert done == {"type": "fetchDone", "counts": {"rastry (rastr)": 1}}
    [req] = requests_to(stats, ORTHO)
    assert query_value(req, "layers") == "Raster"
    assert query_value(req, "SRS") == "EPSG%3A2178"
    assert "gestosc 0.250000 m/px (1:892), platki 1x1" in run.stderr


def test_orthophoto_without_images(tmp_path):
    _, done, _ = fetch(tmp_path, [route(ORTHO, WMS_XML_ERROR)], ["rastr"])
    assert done["warning"] == "Ortofotomapa WMS nie odpowiada - rastr pominiety."
    assert done["counts"] == {}


# Phases 7 and 15: terrain and contours from NMT --------------------------------------------------

def nmt(index_body, sheet=None, sheet_status=200, delay_ms=0):
    routes = [route(NMT_INDEX, index_body, name="index", delay_ms=delay_ms)]
    files = {}
    if sheet is not None:
        routes.append(route(NMT_FILE, body_file="sheet.asc", status=sheet_status))
        files["sheet.asc"] = sheet
    else:
        routes.append(route(NMT_FILE, status=sheet_status))
    return routes, files


SHEET_URL = "https://opendata.geoportal.gov.pl/NumDaneWys/NMT/sheet.asc"


def test_terrain_from_one_sheet(tmp_path):
    routes, files = nmt(nmt_index(SHEET_URL), asc_ramp())
    run, done, stats = fetch(tmp_path, routes, ["teren"], files=files, terrainStep=5)
    assert done == {"type": "fetchDone", "counts": {"teren (Siatka)": 1}}
    assert ("Pobieranie NMT", 0, 1) in progress(run)
    assert stats["routes"]["index"] == 1   # the newest year answered


def test_terrain_notes(tmp_path):
    cases = [
        (nmt(nmt_index(SHEET_URL), sheet_status=404), "Teren: nie udalo sie pobrac/sparsowac zadnego pliku NMT."),
        (nmt(nmt_index(SHEET_URL), "ncols 2\nnrows x\n"), "Teren: nie udalo sie pobrac/sparsowac zadnego pliku NMT."),
        (nmt(nmt_index(SHEET_URL), asc_ramp(nodata=True)), "Teren: brak waznych punktow NMT w kadrze."),
    ]
    for i, ((routes, files), note) in enumerate(cases):
        _, done, stats = fetch(tmp_path / str(i), routes, ["teren"], files=files)
        assert done == {"type": "fetchDone", "counts": {}, "warning": note}, i
    assert stats["routes"]["index"] == 1


def test_contours_from_one_sheet(tmp_path):
    routes, files = nmt(nmt_index(SHEET_URL), asc_ramp())
    run, done, _ = fetch(tmp_path, routes, ["poziomice2d"], files=files, poziomiceCiecie=1.0)
    n = done["counts"]["poziomice (warstwice)"]
    assert 8 <= n <= 12   # about 0.05 m per metre over about 210 m
    assert "warning" not in done
    assert ("Poziomice: NMT", 0, 1) in progress(run)
    building = [m for m in run.of_type("progress") if m["label"] == "Poziomice: liczenie warstwic"]
    assert building and all(m["cancellable"] for m in building)


def test_contour_notes(tmp_path):
    cases = [
        ({"poziomiceCiecie": 0.3}, nmt(nmt_index(SHEET_URL), asc_ramp()),
         "Poziomice: ciecie 0,30 m nie jest dozwolona wartoscia (dozwolone: 0,25 / 0,5 / 1,0 / 2,0 m) - "
         "poziomice pominiete."),
        ({}, nmt(nmt_index(SHEET_URL), sheet_status=404), "Poziomice: nie udalo sie pobrac zadnego pliku NMT."),
        ({}, nmt(nmt_index(SHEET_URL), asc_ramp(nodata=True)),
         "Poziomice: caly probkowany obszar to NODATA (brak danych NMT dla tego kadru)."),
    ]
    for i, (params, (routes, files), note) in enumerate(cases):
        _, done, stats = fetch(tmp_path / str(i), routes, ["poziomice3d"], files=files, **params)
        assert done == {"type": "fetchDone", "counts": {}, "warning": note}, i
        if i == 0:
            assert stats["total"] == 0


def test_terrain_and_contours_share_one_download_of_each_sheet(tmp_path):
    routes, files = nmt(nmt_index(SHEET_URL), asc_ramp())
    routes[1]["name"] = "sheet"
    _, done, stats = fetch(tmp_path, routes, ["teren", "poziomice2d"], files=files, terrainStep=5)
    assert done["counts"]["teren (Siatka)"] == 1 and done["counts"]["poziomice (warstwice)"] >= 8
    assert stats["routes"]["index"] == 1 and stats["routes"]["sheet"] == 1


def test_cancel_ends_the_fetch_during_a_long_transfer(tmp_path):
    # The index answers late and the sheet would take half a minute: the
    # cancel stops the transfer, skips the later phases and says so.
    routes, files = nmt(nmt_index(SHEET_URL), asc_ramp(), delay_ms=300)
    routes[1]["delay_ms"] = 30000
    start = time.monotonic()
    run, done, _ = fetch(tmp_path, routes, ["teren", "poziomice2d"], files=files, cancel=True)
    assert time.monotonic() - start < 15
    assert done == {"type": "fetchDone", "counts": {},
                    "warning": "Pobieranie przerwane przez uzytkownika - wynik niepelny."}
    assert {"type": "cancelled"} in run.messages


# Order and independence of the phases ------------------------------------------------------------

def test_failing_phases_each_add_their_note_in_phase_order(tmp_path):
    routes = [route(PRG, prg("0201011")), route(ORTHO, status=404), route(BDOT10K, status=404)]
    routes += nmt(EMPTY_COLLECTION)[0]
    _, done, _ = fetch(tmp_path, routes, ["poziomice2d", "teren", "rastr", "bdot500", "gesut", "mpzp", "dzialki"])
    assert done["warning"] == " ".join([
        "Powiatowa usluga WFS EGiB nie odpowiada.",   # its address is not routed: refused
        "Brak dzialek dla tego obszaru.",
        "Brak MPZP dla gminy 020101: brak uslugi WMS w EZiU.",
        "GESUT: powiat nie publikuje uslugi w EZiU.",
        "BDOT500: powiat nie publikuje uslugi w EZiU.",
        "Ortofotomapa WMS nie odpowiada - rastr pominiety.",
        "Teren: brak kafli NMT dla tego obszaru w skorowidzu.",
        "Poziomice: brak kafli NMT dla tego obszaru w skorowidzu.",
    ])
