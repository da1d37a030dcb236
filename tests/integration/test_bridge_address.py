"""Address search and suggestions through `veldra bridge map` against the fixture server."""
import json

from bridge_cli import run_bridge
from fixture import MockServices, write_manifest

NOMINATIM_HIT = json.dumps([{
    "lat": "51.7592485", "lon": "19.4559833",
    "display_name": "\u0141\u00f3d\u017a, wojew\u00f3dztwo \u0142\u00f3dzkie, Polska",
}])

PHOTON = json.dumps({"features": [
    {"geometry": {"coordinates": [21.0122, 52.2297]},
     "properties": {"name": "Pa\u0142ac Kultury", "street": "plac Defilad", "housenumber": "1", "city": "Warszawa"}},
    {"geometry": {"coordinates": [20.0, 50.0]}, "properties": {"street": "Warszawska", "city": "Krak\u00f3w"}},
]})


def nominatim_route(query, answers):
    return {"name": "nominatim", "path": "/nominatim/search",
            "query": {"format": "json", "limit": "1", "countrycodes": "pl", "q": query},
            "responses": answers}


def test_search_address_returns_the_first_hit_with_polish_label_escaped(tmp_path):
    root = write_manifest(tmp_path / "fx", [nominatim_route("\u0141\u00f3d\u017a", [{"body": NOMINATIM_HIT}])])
    with MockServices(root, tmp_path) as fx:
        r = run_bridge([{"type": "searchAddress", "query": "\u0141\u00f3d\u017a"}], env=fx.env())
        assert fx.stats()["routes"]["nominatim"] == 1
    assert r.returncode == 0, r.stderr
    [reply] = r.messages
    assert reply["type"] == "addressResults"
    assert reply["lat"] == 51.7592485 and reply["lon"] == 19.4559833
    assert reply["label"].startswith("\u0141\u00f3d\u017a")
    assert "\\u0141" in r.raw[0]  # carried as escapes: the channel is ASCII


def test_search_address_without_hits_or_query_answers_empty(tmp_path):
    root = write_manifest(tmp_path / "fx", [nominatim_route("Xyzzy", [{"body": "[]"}])])
    with MockServices(root, tmp_path) as fx:
        r = run_bridge([{"type": "searchAddress", "query": "Xyzzy"}, {"type": "searchAddress"}], env=fx.env())
        assert fx.stats()["total"] == 1   # the empty query asks nobody
    assert r.messages == [{"type": "addressResults"}, {"type": "addressResults"}]


def test_search_address_failure_names_the_geocoder(tmp_path):
    root = write_manifest(tmp_path / "fx", [nominatim_route("Gdansk", [{"status": 500, "body": "err"}])])
    with MockServices(root, tmp_path) as fx:
        r = run_bridge([{"type": "searchAddress", "query": "Gdansk"}], env=fx.env())
    assert r.messages == [{"type": "error", "msg": "Wyszukiwarka adresow nie odpowiada (Nominatim)"}]


def test_suggestions_arrive_later_with_their_query_and_short_queries_ask_nothing(tmp_path):
    root = write_manifest(tmp_path / "fx", [{
        "name": "photon", "path": "/photon/api/",
        "query": {"q": "War", "limit": "5", "bbox": "14.1,49.0,24.2,54.9"},
        "body": PHOTON}])
    with MockServices(root, tmp_path) as fx:
        r = run_bridge([
            {"type": "searchAddressSuggest", "query": "Wa"},
            {"type": "searchAddressSuggest", "query": "War"},
            {"type": "ping"},
        ], env=fx.env())
        assert fx.stats()["total"] == 1
    types = [m["type"] for m in r.messages]
    assert sorted(types) == ["addressSuggestions", "pong"]
    [sugg] = r.of_type("addressSuggestions")
    assert sugg["query"] == "War"
    assert sugg["items"] == [
        {"label": "Pa\u0142ac Kultury, plac Defilad 1, Warszawa", "lat": 52.2297, "lon": 21.0122},
        {"label": "Warszawska, Krak\u00f3w", "lat": 50.0, "lon": 20.0},
    ]


def test_suggestion_failure_gives_an_empty_list(tmp_path):
    root = write_manifest(tmp_path / "fx", [{"path": "/photon/api/", "body": "<html>oops</html>"}])
    with MockServices(root, tmp_path) as fx:
        r = run_bridge([{"type": "searchAddressSuggest", "query": "Krakow"}], env=fx.env())
    assert r.messages == [{"type": "addressSuggestions", "query": "Krakow", "items": []}]


def test_a_slow_search_leaves_the_palette_answering(tmp_path):
    root = write_manifest(tmp_path / "fx", [nominatim_route("Lodz", [{"body": NOMINATIM_HIT, "delay_ms": 1500}])])
    with MockServices(root, tmp_path) as fx:
        r = run_bridge([{"type": "searchAddress", "query": "Lodz"}, {"type": "ping"}], env=fx.env())
    assert [m["type"] for m in r.messages] == ["pong", "addressResults"]
    assert r.messages[1]["lat"] == 51.7592485


def test_only_the_newest_suggestion_request_is_answered(tmp_path):
    root = write_manifest(tmp_path / "fx", [{"name": "photon", "path": "/photon/api/", "body": PHOTON,
                                             "delay_ms": 300}])
    with MockServices(root, tmp_path) as fx:
        r = run_bridge([{"type": "searchAddressSuggest", "query": q} for q in ("War", "Wars", "Warsz", "Warsza")],
                       env=fx.env())
        assert fx.stats()["total"] <= 2   # the one under way and the newest; the rest never asked
    assert [(m["type"], m["query"]) for m in r.messages] == [("addressSuggestions", "Warsza")]
