"""The offline demo's data (data/demo) served by `veldra mock-services`: every layer of the import
palette fetched over the suggested frame and placed (the point-cloud palette's download on the demo
is the browser demo test's), and the generator reproducing the committed files."""

import filecmp
import json
import re
import subprocess
import sys
from pathlib import Path

import pytest

from fixture import MockServices, Session, private_env

DEMO = Path(__file__).resolve().parents[2] / "data" / "demo"
SETTINGS = json.loads((DEMO / "demo.json").read_text(encoding="utf-8"))

# Each palette key and the count label its data arrive under.
LAYERS = {"dzialki": "dzialki", "budynki": "budynki", "pog": "pog", "mpzp": "mpzp (rastr)",
          "gesut": "gesut (rastr)", "bdot500": "bdot500 (rastr)", "rastr": "rastry (rastr)",
          "teren": "teren (Siatka)", "terenchmura": "teren z chmury (Siatka)",
          "poziomicechmura": "poziomice z chmury (warstwice)", "wodachmura": "woda z chmury (Siatka)",
          "budynki3d": "budynki3d", "dachychmura": "dachychmura", "budynkindsm": "budynkindsm",
          "budynkirekon": "budynkirekon", "mosty": "mosty", "drogi": "drogi", "budynkilod2": "budynkilod2",
          "poziomice2d": "poziomice (warstwice)", "poziomice3d": "poziomice (warstwice)"}

# What the phases say when a service or its data are missing ("Brak polaczenia", "Brak dzialek",
# "... nie odpowiada", "brak kafli NMT", "fallback - tylko nowe obiekty", ...). A complete fetch
# still carries summaries and the national services standing in for the local ones.
FAILURE = re.compile(r"Brak |brak (danych|kafli|obrysow|waznych)|nie odpowiada|nie udalo|nieczytelna|pominiet|fallback|"
                     r"pusta|przerwane|limit|NODATA")


def test_every_layer_of_the_demo_is_fetched_and_placed_without_a_failure(tmp_path):
    lat, lon = SETTINGS["center"]
    with MockServices(DEMO, tmp_path, extra_rewrites=[tuple(r) for r in SETTINGS["rewrite"]]) as fx:
        s = Session(["bridge", "map", "--project", tmp_path / "p.json"], {**private_env(tmp_path / "home"), **fx.env()})
        found, _, done, placed = s.converse([
            ({"type": "searchAddress", "query": SETTINGS["name"]}, {"addressResults", "error"}),
            ({"type": "setOrigin", "lat": lat, "lon": lon}, {"originSet", "error"}),
            ({"type": "fetch", "bboxWgs84": SETTINGS["bbox"], "layers": list(LAYERS)}, {"fetchDone"}),
            ({"type": "place"}, {"placeDone", "error"})])
        s.close()
        stats = fx.stats()
    west, south, east, north = SETTINGS["bbox"]
    assert west < found.get("lon", 0) < east and south < found.get("lat", 0) < north, found
    assert {LAYERS[k] for k in LAYERS} <= set(done["counts"]) and min(done["counts"].values()) > 0, done["counts"]
    assert not FAILURE.search(done.get("warning", "")), done["warning"]
    # Contours are placed as lines and a mesh each; everything else keeps its label.
    contours = {"poziomice (warstwice)": ("poziomice2d", "poziomice3d"),
                "poziomice z chmury (warstwice)": ("poziomicechmura2d", "poziomicechmura3d")}
    expected = {p for label in LAYERS.values() for p in contours.get(label, (label,))}
    assert placed["type"] == "placeDone" and expected <= set(placed["counts"]), placed
    assert min(placed["counts"].values()) > 0, placed
    assert stats["unmatched"] == 0, [r for r in stats["requests"] if r["route"] is None]


def test_the_generator_reproduces_the_committed_files(tmp_path):
    pytest.importorskip("numpy")
    subprocess.run([sys.executable, str(DEMO.parents[1] / "scripts" / "make-demo.py"), str(tmp_path)], check=True,
                   timeout=600)
    made = sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*") if p.is_file())
    kept = sorted(p.relative_to(DEMO) for p in DEMO.rglob("*") if p.is_file())
    assert made == kept
    assert sum((DEMO / p).stat().st_size for p in kept) <= 4 << 20   # the demo travels inside the program
    assert [str(p) for p in made if not filecmp.cmp(tmp_path / p, DEMO / p, shallow=False)] == []
