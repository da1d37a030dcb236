"""Address search and suggestions through `veldra bridge map` against the fixture server."""
import json

import pytest

from fixture import run_bridge, serve

LODZ = "\u0141\u00f3d\u017a"
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


def test_a_slow_search_leaves_the_palette_answering_and_its_hit_comes_later_escaped(tmp_path):
    r, stats = ask(tmp_path, nominatim_route(LODZ, [{"body": NOMINATIM_HIT, "delay_ms": 1500}]),
                   {"type": "searchAddress", "query": LODZ}, {"type": "ping"})
    assert r.returncode == 0 and stats["routes"]["nominatim"] == 1, r.stderr
    assert [m["type"] for m in r.messages] == ["pong", "addressResults"]
    assert r.messages[1] == {"type": "addressResults", "lat": 51.7592485, "lon": 19.4559833,
                             "label": json.loads(NOMINATIM_HIT)[0]["display_name"]}
    assert "\\u0141" in r.raw[1]  # carried as escapes: the channel is ASCII


@pytest.mark.parametrize("route, lines, answers, asked", [
    # Nothing found, and an empty query that asks nobody.
    (nominatim_route("Xyzzy", [{"body": "[]"}]), [{"type": "searchAddress", "query": "Xyzzy"}, {"type": "searchAddress"}],
     [{"type": "addressResults"}] * 2, 1),
    (nominatim_route("Gdansk", [{"status": 500, "body": "err"}]), [{"type": "searchAddress", "query": "Gdansk"}],
     [{"type": "error", "msg": "Wyszukiwarka adresow nie odpowiada (Nominatim)"}], 2),   # one retry
    ({"path": "/photon/api/", "body": "<html>oops</html>"}, [{"type": "searchAddressSuggest", "query": "Krakow"}],
     [{"type": "addressSuggestions", "query": "Krakow", "items": []}], 1),
], ids=["no-hits-or-no-query", "geocoder-failure", "suggestion-failure"])
def test_empty_or_failed_searches_give_one_plain_answer_each(tmp_path, route, lines, answers, asked):
    r, stats = ask(tmp_path, route, *lines)
    assert (r.messages, stats["total"]) == (answers, asked)


def test_suggestions_arrive_later_with_their_query_and_short_queries_ask_nothing(tmp_path):
    r, stats = ask(tmp_path, {"name": "photon", "path": "/photon/api/", "body": PHOTON,
                              "query": {"q": "War", "limit": "5", "bbox": "14.1,49.0,24.2,54.9"}},
                   {"type": "searchAddressSuggest", "query": "Wa"}, {"type": "searchAddressSuggest", "query": "War"},
                   {"type": "ping"})
    assert stats["total"] == 1
    assert sorted(m["type"] for m in r.messages) == ["addressSuggestions", "pong"]
    assert r.of_type("addressSuggestions") == [{"type": "addressSuggestions", "query": "War", "items": [
        {"label": "Pa\u0142ac Kultury, plac Defilad 1, Warszawa", "lat": 52.2297, "lon": 21.0122},
        {"label": "Warszawska, Krak\u00f3w", "lat": 50.0, "lon": 20.0},
    ]}]


def test_only_the_newest_suggestion_request_is_answered(tmp_path):
    r, stats = ask(tmp_path, {"name": "photon", "path": "/photon/api/", "body": PHOTON, "delay_ms": 300},
                   *({"type": "searchAddressSuggest", "query": q} for q in ("War", "Wars", "Warsz", "Warsza")))
    assert stats["total"] <= 2   # the one under way and the newest; the rest never asked
    assert [(m["type"], m["query"]) for m in r.messages] == [("addressSuggestions", "Warsza")]
