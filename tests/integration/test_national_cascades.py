"""National integration services standing in for offices without their own service, through
`veldra bridge map` against `veldra mock-services`: the requests they get (path, version, layers,
reference system, box axis order, resolution), the notes, and their failures as one table."""

import re
import struct
import zlib

import pytest

from fixture import private_env, shared_file, veldra
from test_fetch_pipeline import MAX_X, MAX_Y, MIN_X, MIN_Y, PRG, fetch, getmaps, prg, query_value, route

KIUT = "/integracja/cgi-bin/KrajowaIntegracjaUzbrojeniaTerenu"
KIBDOT = "/integracja/cgi-bin/KrajowaIntegracjaBazDanychObiektowTopograficznych"
KIMPZP = "/mapy/wss/ext/KrajowaIntegracjaMiejscowychPlanowZagospodarowaniaPrzestrzennego"
# Municipality 020101: its county and it have no service of their own in the directories.
NO_OWN_SERVICE = prg("0201011")

KIUT_NOTE = "GESUT: powiat nie publikuje uslugi w EZiU - rastr z krajowej integracji KIUT."
KIUT_FAILED = "GESUT: powiat nie publikuje uslugi w EZiU."
XML_200 = '<?xml version="1.0"?><ServiceExceptionReport><ServiceException>x</ServiceException></ServiceExceptionReport>'


def png(w, h, pixel):
    """An 8-bit RGBA PNG written here with zlib; pixel(x, y) -> (r, g, b, a)."""
    raw = b"".join(b"\0" + bytes(c for x in range(w) for c in pixel(x, y)) for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


DRAWN = png(32, 32, lambda x, y: (200, 0, 0, 255) if x == y else (0, 0, 0, 0))
BLANK = png(32, 32, lambda x, y: (255, 255, 255, 0))
FLAT = png(32, 32, lambda x, y: (250, 250, 250, 255))


def recorded(name):
    return shared_file("samples/wms_caps/" + name).read_bytes()


def cascade(tmp_path, path, caps, map_body, keys, **params):
    """caps: the capabilities body, or None for a service answering them with 404."""
    caps_route = route(path, query={"request": "GetCapabilities"}, name="caps",
                       **({"body_file": "caps.xml"} if caps is not None else {"status": 404}))
    routes = [route(PRG, NO_OWN_SERVICE), caps_route,
              route(path, query={"request": "GetMap"}, name="map", body_file="map.bin")]
    return fetch(tmp_path, routes, keys, files={"map.bin": map_body, "caps.xml": caps or b""}, **params)


def test_utilities_from_kiut_at_the_national_path_northing_first(tmp_path):
    caps = recorded("kiut_getcapabilities_trimmed_2026-09-02.xml")
    network = re.findall(rb'cascaded="1"><Name>([^<]+)</Name><MaxScaleDenominator>1000<', caps)
    # The county density for 1:2000 would be 0.56 m/px, where the network layers draw nothing.
    run, done, stats = cascade(tmp_path, KIUT, caps, DRAWN, ["gesut"], rasterScale=2000)
    assert done == {"type": "fetchDone", "counts": {"gesut (rastr)": 1}, "warning": KIUT_NOTE}
    [req] = getmaps(stats, KIUT)
    assert (query_value(req, "version"), query_value(req, "CRS"), query_value(req, "layers").split(",")) == (
        "1.3.0", "EPSG:2180", [n.decode() for n in network])
    n0, e0, n1, e1 = (float(v) for v in query_value(req, "BBOX").split(","))
    assert [n0, e0, n1, e1] == pytest.approx([MIN_Y, MIN_X, MAX_Y, MAX_X], abs=0.01)
    assert (e1 - e0) / int(query_value(req, "WIDTH")) <= 0.28
    assert (n1 - n0) / int(query_value(req, "HEIGHT")) <= 0.28 * 1.01
    assert stats["routes"]["caps"] == 1


@pytest.mark.parametrize("path, caps, keys, note, layers", [
    (KIMPZP, "kimpzp_getcapabilities_trimmed_2026-07-22.xml", "mpzp",
     "MPZP gminy 020101: brak uslugi gminnej w EZiU - rysunek z krajowej integracji KIMPZP.",
     "raster,wektor-str,wektor-lzb,wektor-lin,wektor-pow,wektor-pkt"),
    (KIBDOT, None, "bdot500", "BDOT500: powiat nie publikuje uslugi w EZiU - rastr z krajowej integracji KIBDOT.", "bdot"),
], ids=["kimpzp-drawing-layers", "kibdot-without-capabilities"])
def test_wms_1_1_1_integrations_easting_first(tmp_path, path, caps, keys, note, layers):
    _, done, stats = cascade(tmp_path, path, caps and recorded(caps), DRAWN, [keys])
    assert done == {"type": "fetchDone", "counts": {keys + " (rastr)": 1}, "warning": note}
    [req] = getmaps(stats, path)
    assert (query_value(req, "version"), query_value(req, "SRS"), query_value(req, "layers")) == ("1.1.1", "EPSG:2180",
                                                                                                 layers)
    e0, n0, e1, n1 = (float(v) for v in query_value(req, "BBOX").split(","))
    assert abs(e0 - MIN_X) < 0.01 and abs(n1 - MAX_Y) < 0.01


def test_blank_answers_of_each_national_service_give_the_old_notes(tmp_path):
    kiut_caps = recorded("kiut_getcapabilities_trimmed_2026-09-02.xml")
    kimpzp_caps = recorded("kimpzp_getcapabilities_trimmed_2026-07-22.xml")
    cases = [
        (KIUT, kiut_caps, ["gesut"], BLANK, KIUT_FAILED),
        (KIBDOT, None, ["bdot500"], FLAT, "BDOT500: powiat nie publikuje uslugi w EZiU."),
        (KIMPZP, kimpzp_caps, ["mpzp"], XML_200.encode(), "Brak MPZP dla gminy 020101: brak uslugi WMS w EZiU."),
    ]
    for i, (path, caps, keys, body, note) in enumerate(cases):
        _, done, stats = cascade(tmp_path / str(i), path, caps, body, keys)
        assert done == {"type": "fetchDone", "counts": {}, "warning": note}, path
        assert len(getmaps(stats, path)) == 1, path   # an answer, not a failure: no retry


SYNTHETIC_KIUT = ('<WMS_Capabilities version="1.3.0"><Capability><Layer><CRS>EPSG:2180</CRS>'
                  '<Layer><Name>przewod_gazowy</Name><MaxScaleDenominator>1000</MaxScaleDenominator></Layer>'
                  '</Layer></Capability></WMS_Capabilities>').encode()


@pytest.mark.parametrize("caps_answer, map_answer, tiles, getmap_count", [
    ({"status": 503}, {"body_file": "map.bin"}, 0, 0),                                  # down
    ({"body": XML_200}, {"body_file": "map.bin"}, 0, 0),                                # caps: exception, 200
    ({"body_file": "caps.xml"}, {"status": 503}, 0, 2),                                 # GetMap down, one retry
    ({"body_file": "caps.xml"}, {"body": XML_200}, 0, 1),                               # GetMap XML with 200
    ({"body_file": "caps.xml", "delay_ms": 1500}, {"body_file": "map.bin", "delay_ms": 1500}, 1, 1),   # slow
], ids=["down", "caps-xml-200", "getmap-503", "getmap-xml-200", "slow"])
def test_kiut_faults(tmp_path, caps_answer, map_answer, tiles, getmap_count):
    routes = [route(PRG, NO_OWN_SERVICE),
              dict(route(KIUT, query={"request": "GetCapabilities"}, name="caps"), **caps_answer),
              dict(route(KIUT, query={"request": "GetMap"}, name="map"), **map_answer)]
    _, done, stats = fetch(tmp_path, routes, ["gesut"], files={"map.bin": DRAWN, "caps.xml": SYNTHETIC_KIUT})
    assert done["warning"] == (KIUT_NOTE if tiles else KIUT_FAILED)
    assert done["counts"] == ({"gesut (rastr)": 1} if tiles else {})
    assert len(getmaps(stats, KIUT)) == getmap_count


@pytest.mark.parametrize("code, services, expected", [
    ("020101", None, ["gesut_source KIUT", "bdot500_source KIBDOT", "mpzp_source KIMPZP"]),
    ("181607", None, ["gesut_source powiat", "bdot500_source KIBDOT", "mpzp_source gmina"]),
    ("066301", None, ["gesut_source KIUT", "bdot500_source powiat", "mpzp_source KIMPZP"]),
    # The user's own row: a county WFS alone is the county's service; a row without addresses is none.
    ("020101", "gesut\t0201\t-\thttps://p.pl/wfs\n", ["gesut_source powiat"]),
    ("181607", "mpzp\t181607\t-\t-\n", ["mpzp_source KIMPZP"]),
])
def test_teryt_tells_which_service_each_office_gets(tmp_path, code, services, expected):
    config = tmp_path / "config"
    if services is not None:
        (config / "VELDRA").mkdir(parents=True)
        (config / "VELDRA" / "services.tsv").write_text(services, encoding="utf-8")
    r = veldra("teryt", "--code", code, env=private_env(tmp_path, XDG_CONFIG_HOME=str(config)), timeout=60)
    assert r.returncode == 0, r.stderr
    sources = [" ".join(line.split()[:2]) for line in r.stdout.splitlines() if "_source " in line]
    for line in expected:
        assert line in sources, (line, sources)
