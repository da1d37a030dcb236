"""Address search and suggestions through `veldra bridge map` against the fixture server."""
import json

from fixture import run_bridge, serve

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


def ask(tmp_path, route, *lines):
    """The bridge's answers to lines, and the fixture server's count of what it was asked."""
    with serve(tmp_path, [route]) as fx:
        r = run_bridge(list(lines), env=fx.env())
        return r, fx.stats()


def test_search_address_returns_the_first_hit_with_polish_label_escaped(tmp_path):
    r, stats = ask(tmp_path, nominatim_route("\u0141\u00f3d\u017a", [{"body": NOMINATIM_HIT}]),
                   {"type": "searchAddress", "query": "\u0141\u00f3d\u017a"})
    assert r.returncode == 0 and stats["routes"]["nominatim"] == 1, r.stderr
    [reply] = r.messages
    assert reply["type"] == "addressResults"
    assert reply["lat"] == 51.7592485 and reply["lon"] == 19.4559833
    assert reply["label"].startswith("\u0141\u00f3d\u017a")
    assert "\\u0141" in r.raw[0]  # carried as escapes: the channel is ASCII


def test_search_address_without_hits_or_query_answers_empty(tmp_path):
    r, stats = ask(tmp_path, nominatim_route("Xyzzy", [{"body": "[]"}]), {"type": "searchAddress", "query": "Xyzzy"},
                   {"type": "searchAddress"})
    assert stats["total"] == 1   # the empty query asks nobody
    assert r.messages == [{"type": "addressResults"}, {"type": "addressResults"}]


def test_search_address_failure_names_the_geocoder(tmp_path):
    r, _ = ask(tmp_path, nominatim_route("Gdansk", [{"status": 500, "body": "err"}]),
               {"type": "searchAddress", "query": "Gdansk"})
    assert r.messages == [{"type": "error", "msg": "Wyszukiwarka adresow nie odpowiada (Nominatim)"}]


def test_suggestions_arrive_later_with_their_query_and_short_queries_ask_nothing(tmp_path):
    r, stats = ask(tmp_path, {"name": "photon", "path": "/photon/api/", "body": PHOTON,
                              "query": {"q": "War", "limit": "5", "bbox": "14.1,49.0,24.2,54.9"}},
                   {"type": "searchAddressSuggest", "query": "Wa"}, {"type": "searchAddressSuggest", "query": "War"},
                   {"type": "ping"})
    assert stats["total"] == 1
    types = [m["type"] for m in r.messages]
    assert sorted(types) == ["addressSuggestions", "pong"]
    [sugg] = r.of_type("addressSuggestions")
    assert sugg["query"] == "War"
    assert sugg["items"] == [
        {"label": "Pa\u0142ac Kultury, plac Defilad 1, Warszawa", "lat": 52.2297, "lon": 21.0122},
        {"label": "Warszawska, Krak\u00f3w", "lat": 50.0, "lon": 20.0},
    ]


def test_suggestion_failure_gives_an_empty_list(tmp_path):
    r, _ = ask(tmp_path, {"path": "/photon/api/", "body": "<html>oops</html>"},
               {"type": "searchAddressSuggest", "query": "Krakow"})
    assert r.messages == [{"type": "addressSuggestions", "query": "Krakow", "items": []}]


def test_a_slow_search_leaves_the_palette_answering(tmp_path):
    r, _ = ask(tmp_path, nominatim_route("Lodz", [{"body": NOMINATIM_HIT, "delay_ms": 1500}]),
               {"type": "searchAddress", "query": "Lodz"}, {"type": "ping"})
    assert [m["type"] for m in r.messages] == ["pong", "addressResults"]
    assert r.messages[1]["lat"] == 51.7592485


def test_only_the_newest_suggestion_request_is_answered(tmp_path):
    r, stats = ask(tmp_path, {"name": "photon", "path": "/photon/api/", "body": PHOTON, "delay_ms": 300},
                   *({"type": "searchAddressSuggest", "query": q} for q in ("War", "Wars", "Warsz", "Warsza")))
    assert stats["total"] <= 2   # the one under way and the newest; the rest never asked
    assert [(m["type"], m["query"]) for m in r.messages] == [("addressSuggestions", "Warsza")]
