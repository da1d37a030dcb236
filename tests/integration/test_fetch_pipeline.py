"""The fetch pipeline through `veldra bridge map` against `veldra mock-services`:
one scenario per phase and per note, checking the progress messages, the counts,
the warning and the preview of "fetchDone", and the report lines (standard error)."""

import json
import math
import subprocess
import time
from urllib.parse import parse_qsl

import pytest

from fixture import run_bridge, serve

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
GESUT_WFS = "/rzeszow/wfs/gesut"
MPZP_WMS = "/igeomap/cgi-bin/plany/181607/001"
NMT_FILE = "/opendata/NumDaneWys/NMT/sheet.asc"
SHEET_URL = "https://opendata.geoportal.gov.pl/NumDaneWys/NMT/sheet.asc"

PNG = b"\x89PNG\r\n\x1a\n" + b"\0" * 24
WMS_XML_ERROR = ('<?xml version="1.0"?><ServiceExceptionReport version="1.1.1"><ServiceException>'
                 'msDrawMap(): Image handling error</ServiceException></ServiceExceptionReport>')
CAPS_QUERY = {"request": "GetCapabilities"}
MAP_QUERY = {"request": "GetMap"}
NOTHING = "Nic nie pobrano dla tego obszaru."
GESUT_RASTER = "GESUT jako rastr (WMS powiatowy) - brak WFS lub brak przewodow w WFS."


def to_east_north(src, dst, points):
    """Points of src, given in its own axis order (latitude first, northing first), as (easting,
    northing) of dst, by PROJ."""
    r = subprocess.run(["cs2cs", "-f", "%.6f", src, dst], check=True, capture_output=True, text=True,
                       input="".join(f"{a} {b}\n" for a, b in points), timeout=60)
    return [(float(e), float(n)) for n, e, *_ in (line.split() for line in r.stdout.splitlines())]


CORNERS = to_east_north("EPSG:4326", "EPSG:2180", ((SOUTH, WEST), (NORTH, EAST), (NORTH, WEST), (SOUTH, EAST)))
MIN_X, MAX_X = min(c[0] for c in CORNERS), max(c[0] for c in CORNERS)
MIN_Y, MAX_Y = min(c[1] for c in CORNERS), max(c[1] for c in CORNERS)
CX, CY = (MIN_X + MAX_X) / 2, (MIN_Y + MAX_Y) / 2


def collection(members=""):
    return ('<wfs:FeatureCollection xmlns:wfs="http://www.opengis.net/wfs/2.0" xmlns:gml="http://www.opengis.net/gml/3.2" '
            'xmlns:ms="http://mapserver.gis.umn.edu/mapserver" xmlns:gugik="http://www.gugik.gov.pl">'
            + members + '</wfs:FeatureCollection>')


EMPTY_COLLECTION = collection()


def polygon(ring):
    pos = " ".join(f"{n:.2f} {e:.2f}" for e, n in ring)
    return ('<gml:Polygon srsName="urn:ogc:def:crs:EPSG::2180"><gml:exterior><gml:LinearRing>'
            f'<gml:posList>{pos}</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>')


def prg(code7):
    ring = [(200000, 300000), (210000, 300000), (210000, 310000), (200000, 300000)]
    return collection(f'<wfs:member><ms:A03_Granice_gmin><ms:JPT_KOD_JE>{code7}</ms:JPT_KOD_JE><ms:msGeometry>'
                      f'{polygon(ring)}</ms:msGeometry></ms:A03_Granice_gmin></wfs:member>')


def gml(type_name, features, lines=False):
    """features: list of (id, dx, dy) squares of 10 m around centre + (dx, dy), or 10 m lines
    eastwards from there; northing first."""
    members = ""
    for fid, dx, dy in features:
        x, y = CX + dx, CY + dy
        if lines:
            geometry = ('<gml:LineString srsName="urn:ogc:def:crs:EPSG::2180"><gml:posList>'
                        f'{y:.2f} {x:.2f} {y:.2f} {x + 10:.2f}</gml:posList></gml:LineString>')
        else:
            geometry = polygon([(x - 5, y - 5), (x + 5, y - 5), (x + 5, y + 5), (x - 5, y + 5), (x - 5, y - 5)])
        members += (f'<wfs:member><{type_name} gml:id="{fid}"><ms:ID>{fid}</ms:ID><ms:msGeometry>'
                    f'{geometry}</ms:msGeometry></{type_name}></wfs:member>')
    return collection(members)


def wms_caps(*names, srs="EPSG:2180"):
    layers = "".join(f"<Layer><Name>{n}</Name><Title>{n}</Title></Layer>" for n in names)
    return (f'<WMT_MS_Capabilities version="1.1.1"><Service><Name>WMS</Name></Service><Capability>'
            f'<Layer><Title>root</Title><SRS>{srs}</SRS>{layers}</Layer></Capability></WMT_MS_Capabilities>')


def nmt_index(url, kind="NMT"):
    return collection(f'<wfs:member><gugik:Skorowidz{kind}2027><gugik:godlo>N-34-1</gugik:godlo>'
                      f'<gugik:url_do_pobrania>{url}</gugik:url_do_pobrania></gugik:Skorowidz{kind}2027></wfs:member>')


def asc_ramp(nodata=False):
    """A sheet around the frame rising 0.05 m per metre eastwards (or all NODATA)."""
    cell, n = 20.0, 40
    x0, y0 = math.floor(MIN_X) - 200, math.floor(MIN_Y) - 200
    row = " ".join("-9999" if nodata else f"{100 + 0.05 * (x0 + (c + 0.5) * cell - MIN_X):.3f}" for c in range(n))
    return (f"ncols {n}\nnrows {n}\nxllcorner {x0}\nyllcorner {y0}\ncellsize {cell}\nNODATA_value -9999\n"
            + "\n".join([row] * n) + "\n")


def route(path, body=None, name=None, query=None, status=200, **kw):
    given = {"body": body, "name": name, "query_includes": query}
    return {"path": path, "status": status, "query_keys_nocase": True, **kw,
            **{k: v for k, v in given.items() if v is not None}}


def fetch(tmp_path, routes, layers, files=None, extra=(), cancel=False, services=None, **params):
    """services: text of the user's own service directory file, when given."""
    config = tmp_path / "home" / "config"
    if services is not None:
        (config / "VELDRA").mkdir(parents=True, exist_ok=True)
        (config / "VELDRA" / "services.tsv").write_text(services, encoding="utf-8")
    msg = {"type": "fetch", "bboxWgs84": [WEST, SOUTH, EAST, NORTH], "layers": layers, "rasterScale": 1000,
           "terrainStep": 1, "poziomiceCiecie": 1.0, **params}
    with serve(tmp_path, routes, files, extra) as fx:
        run = run_bridge([msg] + ([{"type": "cancel"}] if cancel else []),
                         env=fx.env({"XDG_CONFIG_HOME": str(config)}), home=str(tmp_path / "home"))
        stats = fx.stats()
    assert run.returncode == 0, run.stderr
    [done] = run.of_type("fetchDone")
    assert run.messages[-1] is done or cancel
    return run, done, stats


def labels(run):
    return [m["label"] for m in run.of_type("progress")]


def requests_to(stats, path):
    return [r for r in stats["requests"] if r["path"] == path]


def query_value(req, key):
    """The decoded value of a query key, whatever its case."""
    return next((v for k, v in parse_qsl(req["query"]) if k.lower() == key.lower()), None)


def getmaps(stats, path):
    return [r for r in requests_to(stats, path) if query_value(r, "request") == "GetMap"]


def egib_routes(parcels, buildings, bdot10k):
    caps = ('<wfs:WFS_Capabilities version="2.0.0"><FeatureTypeList><FeatureType><Name>ms:dzialki</Name>'
            '</FeatureType><FeatureType><Name>ms:budynki</Name></FeatureType></FeatureTypeList>'
            '</wfs:WFS_Capabilities>')
    return [route(PRG, prg("0663011")),
            route(EGIB_WFS, caps, name="caps", query=CAPS_QUERY),
            route(EGIB_WFS, gml("ms:dzialki", parcels), name="parcels", query={"typenames": "ms:dzialki"}),
            route(EGIB_WFS, gml("ms:budynki", buildings), name="buildings", query={"typenames": "ms:budynki"}),
            route(BDOT10K, gml("ms:bud_2025", bdot10k), name="bdot10k")]


def registry(acts_body, zones=None):
    routes = [route(PRG, prg("1816071")), route(REGISTRY_QUERY, acts_body, method="POST", name="acts")]
    if zones is not None:
        routes.append(route("/rejestr/api/public/published/A1/download", gml("ms:StrefaPlanistyczna", zones)))
    return routes


ACTS = json.dumps({"publishedActs": [{"publishedActId": "A1", "planType": "MUNICIPAL_GENERAL_PLAN",
                                      "spatialPlanningActStatus": "obowiazujacy", "publishDate": "2025-05-01"}]})


def wms(path, caps, map_body, code7, county, **params):
    """A municipal or county WMS: fetch arguments for its capabilities and one map answer."""
    routes = [route(PRG, prg(code7)), route(path, caps, query=CAPS_QUERY), route(path, query=MAP_QUERY,
                                                                                    body_file="map.bin")]
    return dict(routes=routes, files={"map.bin": map_body}, extra=[county], **params)


def mpzp(map_body, caps, **params):
    return wms(MPZP_WMS, caps, map_body, "1816071", HYZNE, layers=["mpzp"], **params)


def base_map(map_body, scale):
    return wms(BDOT500_WMS, wms_caps("bdot500_budowle", "inne"), map_body, "0663011", LUBLIN, layers=["bdot500"],
               rasterScale=scale)


def gesut_wfs(water, gas, wms_url):
    """The county WFS of the user's directory row (with a WMS address, or "-")."""
    caps = ('<wfs:WFS_Capabilities version="2.0.0"><FeatureTypeList>'
            + "".join(f"<FeatureType><Name>gesut:{n}</Name></FeatureType>"
                      for n in ("przewod_wodociagowy", "urzadzenia", "przewod_gazowy"))
            + '</FeatureTypeList></wfs:WFS_Capabilities>')
    routes = [route(PRG, prg("1816051")), route(GESUT_WFS, caps, query=CAPS_QUERY),
              route(GESUT_WFS, gml("gesut:przewod_wodociagowy", water, lines=True),
                    query={"typenames": "gesut:przewod_wodociagowy"}),
              route(GESUT_WFS, gml("gesut:przewod_gazowy", gas, lines=True), query={"typenames": "gesut:przewod_gazowy"}),
              route(GESUT_WMS, wms_caps("gesut_przewody"), query=CAPS_QUERY),
              route(GESUT_WMS, query=MAP_QUERY, body_file="map.bin")]
    services = ("# the county's own services, added by hand\n"
                f"gesut\t1816\t{wms_url}\thttps://powiatrzeszowski.geoportal2.pl/wfs/gesut\n")
    return dict(routes=routes, files={"map.bin": PNG}, extra=[RZESZOW], services=services, layers=["gesut"])


COUNTY_GESUT_WMS = "https://powiatrzeszowski.geoportal2.pl/map/geoportal/wmsg.php"


def nmt(sheet=None, sheet_status=200, delay_ms=0, index=None, **params):
    routes = [route(NMT_INDEX, index or nmt_index(SHEET_URL), name="index", delay_ms=delay_ms),
              route(NMT_FILE, name="sheet", status=sheet_status, **({"body_file": "sheet.asc"} if sheet else {}))]
    return dict(routes=routes, files={"sheet.asc": sheet} if sheet else None, **params)


def run_case(tmp_path, case, **more):
    case = {**case, **more}
    return fetch(tmp_path, case.pop("routes"), case.pop("layers"), **case)


# Phases that find nothing: the exact fetchDone, the requests they made (or did not) and their report lines.
NO_TERRAIN = "Teren: nie udalo sie pobrac/sparsowac zadnego pliku NMT."
NOTES = [
    pytest.param(dict(routes=[route(PRG, prg("9999011"))], layers=["dzialki"]),
                 "Powiat (TERYT 9999) nie publikuje WFS EGiB w EZiU. Brak dzialek dla tego obszaru.",
                 lambda run, stats: "VELDRA: Powiat (TERYT 9999)" in run.stderr, id="county-without-egib-wfs"),
    pytest.param(dict(routes=[route(PRG, status=404), route(BDOT10K, status=503)], layers=["dzialki", "budynki"]),
                 "Nie udalo sie ustalic powiatu dla widoku. Brak dzialek dla tego obszaru.",
                 lambda run, stats: requests_to(stats, BDOT10K) and "Import: budynki (BDOT10k)" in labels(run),
                 id="unknown-municipality-and-silent-bdot10k"),
    pytest.param(dict(routes=registry('{"content": []}'), layers=["pog"]),
                 "Brak POG dla gminy 181607 (Plan Ogolny jeszcze nieuchwalony w Rejestrze Urbanistycznym).",
                 lambda run, stats: stats["routes"]["acts"] == 3, id="registry-without-acts"),
    pytest.param(dict(routes=registry(ACTS, [("z1", 5000, 0)]), layers=["pog"]),
                 "POG gminy 181607: akt jest, ale zadna strefa nie wpada w kadr.", None, id="zones-outside-the-frame"),
    pytest.param(dict(routes=[route(PRG, EMPTY_COLLECTION)], layers=["mpzp", "pog"]),
                 "MPZP/POG pominiete: nie udalo sie ustalic gminy (TERYT) dla widoku.",
                 lambda run, stats: not requests_to(stats, REGISTRY_QUERY), id="no-municipality"),
    # The user's row names a WFS only; it replaces the compiled row, WMS included: the phase adds nothing.
    pytest.param(gesut_wfs([], [], "-"), NOTHING,
                 lambda run, stats: requests_to(stats, GESUT_WFS) and not requests_to(stats, GESUT_WMS),
                 id="county-wfs-without-pipes-and-wms"),
    pytest.param(dict(routes=[route(PRG, prg("0201011"))], layers=["gesut"], services="gesut\t0201\thttps://a b.pl/wms\n"),
                 "GESUT: powiat nie publikuje uslugi w EZiU.",
                 lambda run, stats: "VELDRA: services.tsv, wiersz 1: niepoprawny adres uslugi" in run.stderr,
                 id="refused-row-of-the-users-directory"),
    pytest.param(dict(routes=[route(PRG, prg("1816051")), route(GESUT_WMS, status=500)], layers=["gesut"],
                      extra=[RZESZOW]), "GESUT: powiatowa usluga nie odpowiada.", None, id="utilities-without-answer"),
    pytest.param(base_map(WMS_XML_ERROR.encode(), 500), "BDOT500: usluga WMS nie odpowiada.", None,
                 id="base-map-answering-xml"),
    pytest.param(dict(routes=[route(ORTHO, WMS_XML_ERROR)], layers=["rastr"]),
                 "Ortofotomapa WMS nie odpowiada - rastr pominiety.", None, id="orthophoto-without-images"),
    pytest.param(nmt(sheet_status=404, layers=["teren"]), NO_TERRAIN,
                 lambda run, stats: stats["routes"]["index"] == 1, id="terrain-sheet-missing"),
    pytest.param(nmt("ncols 2\nnrows x\n", layers=["teren"]), NO_TERRAIN, None, id="terrain-sheet-unreadable"),
    pytest.param(nmt(asc_ramp(nodata=True), layers=["teren"]), "Teren: brak waznych punktow NMT w kadrze.", None,
                 id="terrain-all-nodata"),
    pytest.param(nmt(asc_ramp(), layers=["poziomice3d"], poziomiceCiecie=0.3),
                 "Poziomice: ciecie 0,30 m nie jest dozwolona wartoscia (dozwolone: 0,25 / 0,5 / 1,0 / 2,0 m) - "
                 "poziomice pominiete.", lambda run, stats: stats["total"] == 0, id="contour-cut-not-allowed"),
    pytest.param(nmt(sheet_status=404, layers=["poziomice3d"]), "Poziomice: nie udalo sie pobrac zadnego pliku NMT.",
                 None, id="contour-sheet-missing"),
    pytest.param(nmt(asc_ramp(nodata=True), layers=["poziomice3d"]),
                 "Poziomice: caly probkowany obszar to NODATA (brak danych NMT dla tego kadru).", None,
                 id="contour-all-nodata"),
    # Every failing phase adds its note, in phase order.
    pytest.param(dict(routes=[route(PRG, prg("0201011")), route(ORTHO, status=404), route(BDOT10K, status=404),
                              route(NMT_INDEX, EMPTY_COLLECTION)],
                      layers=["poziomice2d", "teren", "rastr", "bdot500", "gesut", "mpzp", "dzialki"]),
                 " ".join(["Powiatowa usluga WFS EGiB nie odpowiada.",   # its address is not routed: refused
                           "Brak dzialek dla tego obszaru.",
                           "Brak MPZP dla gminy 020101: brak uslugi WMS w EZiU.",
                           "GESUT: powiat nie publikuje uslugi w EZiU.",
                           "BDOT500: powiat nie publikuje uslugi w EZiU.",
                           "Ortofotomapa WMS nie odpowiada - rastr pominiety.",
                           "Teren: brak kafli NMT dla tego obszaru w skorowidzu.",
                           "Poziomice: brak kafli NMT dla tego obszaru w skorowidzu."]), None, id="failing-phases-in-order"),
]


@pytest.mark.parametrize("case, note, check", NOTES)
def test_a_phase_without_data_says_why(tmp_path, case, note, check):
    run, done, stats = run_case(tmp_path, case)
    assert done == {"type": "fetchDone", "counts": {}, "warning": note}
    assert check is None or check(run, stats)


def test_parcels_from_the_county_and_buildings_from_bdot10k(tmp_path):
    run, done, stats = fetch(tmp_path, egib_routes([("d1", 0, 0)], [], [("b1", 20, 0)]), ["dzialki", "budynki"],
                             extra=[LUBLIN])
    assert done["counts"] == {"dzialki": 1, "budynki": 1}
    assert done["warning"] == (
        "Powiatowa usluga zwraca dzialki, ale nie filtruje budynkow po obszarze (blad konfiguracji serwera "
        "powiatu - np. Zabrze). Budynki z BDOT10k NoweBudynki (fallback - tylko nowe obiekty).")
    assert [f["properties"]["_kind"] for f in json.loads(done["geojson"])["features"]] == ["dzialka", "budynek"]
    assert ("VELDRA EGiB [TERYT 066301] https://gis.lublin.eu/opendata/wfs | tn.dzialki='ms:dzialki' -> 1 | "
            "tn.budynki='ms:budynki' -> 0") in run.stderr
    seen = labels(run)
    assert seen.index("Import: dzialki") < seen.index("Import: budynki") < seen.index("Import: budynki (BDOT10k)")
    # The BDOT10k request is a WFS 2.0 GetFeature of the new buildings.
    assert query_value(requests_to(stats, BDOT10K)[0], "typenames") == "ms:bud_2025"


def test_general_plan_keeps_the_zones_in_the_frame(tmp_path):
    _, done, _ = fetch(tmp_path, registry(ACTS, [("z1", 0, 0), ("z2", 5000, 0)]), ["pog"])
    assert done["counts"] == {"pog": 1} and "warning" not in done
    assert [f["properties"]["_kind"] for f in json.loads(done["geojson"])["features"]] == ["pog"]


ORTHO_CASE = dict(routes=[route(ORTHO, body_file="map.bin")], files={"map.bin": PNG}, layers=["rastr"], rasterScale=5000)
RASTERS = [   # (fetch, counts and note, the GetMap path, its layers and system, the density reported)
    pytest.param(mpzp(PNG, wms_caps("granice", "Rysunek_Planu", "obrysy", srs="EPSG:2178 EPSG:2180")),
                 ("mpzp (rastr)", "MPZP: pobrano rysunek planu (rastr) z uslugi gminnej dla 181607."), MPZP_WMS,
                 ("Rysunek_Planu", "EPSG:2178"), "0.280000 m/px (1:1000), platki 1x1", id="local-plan-drawing-layer"),
    # Without a drawing layer every layer but the auxiliary ones is drawn.
    pytest.param(mpzp(PNG, wms_caps("granice_planow", "plan_a", "zasieg", "plan_b")),
                 ("mpzp (rastr)", "MPZP: pobrano rysunek planu (rastr) z uslugi gminnej dla 181607."), MPZP_WMS,
                 ("plan_a,plan_b", "EPSG:2180"), "0.280000 m/px (1:1000), platki 1x1", id="local-plan-other-layers"),
    pytest.param(wms(GESUT_WMS, wms_caps("gesut_przewody", "gesut_strefa", "ewidencja"), PNG, "1816051", RZESZOW,
                     layers=["gesut"]), ("gesut (rastr)", GESUT_RASTER), GESUT_WMS, ("gesut_przewody", "EPSG:2180"),
                 "", id="utilities-from-the-county-wms"),
    pytest.param(base_map(PNG, 50), ("bdot500 (rastr)", None), BDOT500_WMS, ("bdot500_budowle", "EPSG:2180"),
                 "0.280000 m/px (1:1000)", id="base-map-scale-out-of-range-uses-1000"),
    pytest.param(ORTHO_CASE, ("rastry (rastr)", None), ORTHO, ("Raster", "EPSG:2178"),
                 "0.250000 m/px (1:892), platki 1x1", id="orthophoto-in-the-project-zone"),
]


@pytest.mark.parametrize("case, done_as, path, asked, density", RASTERS)
def test_raster_phases_ask_their_layers_at_their_density(tmp_path, case, done_as, path, asked, density):
    run, done, stats = run_case(tmp_path, case)
    (key, note) = done_as
    assert done == {"type": "fetchDone", "counts": {key: 1}, **({"warning": note} if note else {})}
    [req] = getmaps(stats, path)
    assert (query_value(req, "layers"), query_value(req, "SRS")) == asked
    assert "gestosc " + density in run.stderr
    if asked[1] == "EPSG:2180" and density:   # the picture's width follows the density
        assert abs(int(query_value(req, "WIDTH")) - (MAX_X - MIN_X) / float(density.split()[0])) <= 1.5
    if asked[1] == "EPSG:2178":   # the box of the frame's corners moved into the zone, by PROJ
        moved = to_east_north("EPSG:2180", "EPSG:2178", [(y, x) for x in (MIN_X, MAX_X) for y in (MIN_Y, MAX_Y)])
        box = [f(c[k] for c in moved) for f in (min, max) for k in (0, 1)]
        asked_box = [float(v) for v in query_value(req, "BBOX").split(",")]
        assert max(abs(a - b) for a, b in zip(asked_box, box)) < 0.01, (asked_box, box)


def test_local_plan_service_answering_xml_to_getmap(tmp_path):
    _, done, stats = run_case(tmp_path, mpzp(WMS_XML_ERROR.encode(), wms_caps("rysunek"), rasterScale=500))
    assert done == {"type": "fetchDone", "counts": {},
                    "warning": "MPZP gminy 181607: usluga WMS nie odpowiada albo nie ma rysunku planu."}
    widths = [int(query_value(r, "WIDTH")) for r in requests_to(stats, MPZP_WMS) if query_value(r, "WIDTH")]
    assert len(widths) == 2 and widths[1] == widths[0] // 2, widths


def test_utilities_from_a_county_wfs_of_the_users_directory(tmp_path):
    run, done, stats = run_case(tmp_path, gesut_wfs([("w1", 0, 0), ("w2", 0, 20)], [("g1", 0, -20)], COUNTY_GESUT_WMS))
    assert done["counts"] == {"gesut": 3} and "warning" not in done
    # Only the pipe layers are asked for, and every feature keeps the layer it came from.
    asked = {query_value(r, "typenames") for r in requests_to(stats, GESUT_WFS) if query_value(r, "typenames")}
    assert asked == {"gesut:przewod_wodociagowy", "gesut:przewod_gazowy"}
    assert sorted(f["properties"].get("rodzajSieci") for f in json.loads(done["geojson"])["features"]) == [
        "gesut:przewod_gazowy", "gesut:przewod_wodociagowy", "gesut:przewod_wodociagowy"]
    assert not requests_to(stats, GESUT_WMS)   # features found: no rendering
    assert "GESUT (WFS)" in labels(run)


def test_county_wfs_without_pipes_falls_back_to_the_wms(tmp_path):
    _, done, stats = run_case(tmp_path, gesut_wfs([], [], COUNTY_GESUT_WMS))
    assert done == {"type": "fetchDone", "counts": {"gesut (rastr)": 1}, "warning": GESUT_RASTER}
    # One tiled request per pipe layer: no other request variants, no whole-layer download.
    gets = [r for r in requests_to(stats, GESUT_WFS) if query_value(r, "typenames")]
    assert len(gets) == 2 and all(query_value(r, "bbox") for r in gets)


def test_terrain_and_contours_share_one_download_of_each_sheet(tmp_path):
    run, done, stats = run_case(tmp_path, nmt(asc_ramp(), layers=["teren", "poziomice2d"], terrainStep=5))
    assert done["counts"]["teren (Siatka)"] == 1 and "warning" not in done
    assert 8 <= done["counts"]["poziomice (warstwice)"] <= 12   # about 0.05 m per metre over about 210 m
    assert stats["routes"]["index"] == 1 and stats["routes"]["sheet"] == 1   # the newest year answered
    assert ("Pobieranie NMT", 0, 1) in [(m["label"], m["done"], m["total"]) for m in run.of_type("progress")]
    building = [m for m in run.of_type("progress") if m["label"] == "Poziomice: liczenie warstwic"]
    assert building and all(m["cancellable"] for m in building)


def test_cancel_ends_the_fetch_during_a_long_transfer(tmp_path):
    # The index answers late and the sheet would take half a minute: the
    # cancel stops the transfer, skips the later phases and says so.
    case = nmt(asc_ramp(), delay_ms=300, layers=["teren", "poziomice2d"])
    case["routes"][1]["delay_ms"] = 30000
    start = time.monotonic()
    run, done, _ = run_case(tmp_path, case, cancel=True)
    assert time.monotonic() - start < 15
    assert done == {"type": "fetchDone", "counts": {},
                    "warning": "Pobieranie przerwane przez uzytkownika - wynik niepelny."}
    assert {"type": "cancelled"} in run.messages
