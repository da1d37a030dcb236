"""Black-box tests of the map palette's message channel through `veldra bridge map`."""
import os
import re
import tempfile

from fixture import run_bridge

BBOX_WARSAW = [21.00, 52.22, 21.01, 52.23]


def test_malformed_and_refused_requests_each_get_one_error_and_the_session_goes_on():
    # The kinds of malformed line are the bridge unit test's; here the process answers each and goes on.
    r = run_bridge(["this is not json", '{"type":"nieznany"}',
                    {"type": "fetch", "bboxWgs84": [21.0, 52.2, 21.01], "layers": ["dzialki"]},
                    {"type": "fetch", "bboxWgs84": BBOX_WARSAW, "layers": "dzialki"},
                    {"type": "place"}, {"type": "cancel"}, {"type": "ping"}])
    assert r.returncode == 0
    assert [m["type"] for m in r.messages] == ["error"] * 5 + ["cancelled", "pong"]
    pong = r.messages[-1]   # the version and build date the page shows
    assert re.fullmatch(r"\d+\.\d+\.\d+", pong["wersja"])
    assert re.fullmatch(r"[A-Z][a-z]{2} \d{1,2} \d{4} \d{2}:\d{2}:\d{2}", pong["build"])
    errors = [m["msg"] for m in r.messages[:5]]
    assert errors.pop(3).startswith("Blad wewnetrzny: ")  # its wording is the bridge unit test's
    # Nothing started: no progress, and place still has no data.
    assert errors == ["Nieprawidlowa wiadomosc z UI (JSON)", "Brak obslugi wiadomosci: nieznany", "Nieprawidlowy bbox",
                      'Najpierw kliknij "1. Pobierz elementy".']


def test_settings_changed_writes_the_settings_file_but_not_for_a_mapping_that_is_no_object():
    home = tempfile.mkdtemp(prefix="veldra_home_")
    [err] = run_bridge([{"type": "settingsChanged", "mapping": "x"}, {"type": "settingsChanged"}], home=home).messages
    assert err["msg"].startswith("Blad wewnetrzny: ")
    assert not os.path.exists(os.path.join(home, "config", "VELDRA", "settings.json"))
    r = run_bridge([
        {"type": "settingsChanged", "mapping": {"dzialki": "MOJE_DZIALKI", "budynki": 5, "pog": "Strefy \u017c\u00f3\u0142te"}},
        {"type": "getLayers"},
    ], home=home)
    assert r.returncode == 0
    [reply] = r.messages  # settingsChanged answers nothing
    assert reply["type"] == "layerList"
    assert (reply["mapping"]["dzialki"], reply["mapping"]["budynki"]) == ("MOJE_DZIALKI", "GIS_BUDYNKI")
    # The file's form is unit-tested (settings_test); here a later process reads what this one stored.
    [later] = run_bridge([{"type": "getLayers"}], home=home).messages
    assert (later["mapping"]["dzialki"], later["mapping"]["pog"]) == ("MOJE_DZIALKI", "Strefy \u017c\u00f3\u0142te")


def test_open_external_opens_only_web_addresses():
    home = tempfile.mkdtemp(prefix="veldra_home_")
    urls = ["https://example.org/a?b=1", "mailto:x@example.org", "javascript:alert(1)", "file:///etc/passwd", None, 5]
    r = run_bridge([{"type": "openExternal", **({} if url is None else {"url": url})} for url in urls], home=home)
    assert [m["type"] for m in r.messages] == ["noop"] * 5 + ["error"]
    assert r.messages[5]["msg"].startswith("Blad wewnetrzny: ")
    with open(os.path.join(home, "opened.txt")) as f:
        assert f.read().splitlines() == ["https://example.org/a?b=1"]
