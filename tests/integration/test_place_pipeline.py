"""Fetch, set the origin and place through one `veldra bridge map --project` session against
`veldra mock-services`; the saved project file is then inspected."""

import json
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from bridge_cli import veldra_bin  # noqa: E402
from fixture import MockServices, write_manifest  # noqa: E402
import test_fetch_pipeline as fp  # noqa: E402

LAT, LON = (fp.SOUTH + fp.NORTH) / 2, (fp.WEST + fp.EAST) / 2


class Session:
    """`veldra bridge map` driven line by line, so "place" can wait for "fetchDone"."""

    def __init__(self, project, env, home):
        e = dict(os.environ)
        e.update({"XDG_CONFIG_HOME": str(home / "config"), "XDG_CACHE_HOME": str(home / "cache"),
                  "VELDRA_DIAG_DIR": str(home / "diag")})
        e.update(env)
        self.p = subprocess.Popen([veldra_bin(), "bridge", "map", "--project", str(project)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=e)
        self.seen = []

    def send(self, msg, until=None):
        self.p.stdin.write((json.dumps(msg) + "\n").encode())
        self.p.stdin.flush()
        while until:
            line = self.p.stdout.readline()
            assert line, "bridge ended early"
            m = json.loads(line)
            self.seen.append(m)
            if m.get("type") in until:
                return m
        return None

    def close(self):
        out, err = self.p.communicate(timeout=120)
        self.seen += [json.loads(l) for l in out.decode().splitlines() if l.strip()]
        return self.p.returncode, err.decode("utf-8", "replace")


def routes():
    r = fp.egib_routes([("d1", 0, 0), ("d2", 20, 0)], [("b1", 0, 30)], [])
    nmt_routes, files = fp.nmt(fp.nmt_index(fp.SHEET_URL), fp.asc_ramp())
    return r + nmt_routes, files


def parcel_gml_corner():
    # First ring point of parcel d1 as the fixture writes it (PL-1992, two decimals).
    return float(f"{fp.CX - 5:.2f}"), float(f"{fp.CY - 5:.2f}")


def cs2cs_2000(e1992, n1992):
    r = subprocess.run(["cs2cs", "-f", "%.4f", "EPSG:2180", "EPSG:2178"], input=f"{n1992} {e1992}\n",
                       capture_output=True, text=True, timeout=60)
    n, e = map(float, r.stdout.split()[:2])
    return e, n


def test_fetch_set_origin_place_and_the_saved_project(tmp_path):
    rts, files = routes()
    root = write_manifest(tmp_path / "fx", rts, files)
    project = tmp_path / "projekt.json"
    with MockServices(root, tmp_path, extra_rewrites=[fp.LUBLIN]) as fx:
        s = Session(project, fx.env(), tmp_path / "home")
        origin = s.send({"type": "setOrigin", "lat": LAT, "lon": LON}, until={"originSet", "error"})
        done = s.send({"type": "fetch", "bboxWgs84": [fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH],
                       "layers": ["dzialki", "budynki", "teren"], "terrainStep": 5}, until={"fetchDone"})
        placed = s.send({"type": "place"}, until={"placeDone", "error"})
        code, err = s.close()
    assert code == 0, err
    assert origin["type"] == "originSet" and origin["epsg"] == 2178, origin
    assert done["counts"]["dzialki"] == 2, done
    assert placed["type"] == "placeDone", placed
    assert placed["counts"]["dzialki"] == 2
    assert placed["counts"]["budynki"] == 1
    assert placed["counts"]["teren (Siatka)"] == 1
    assert "VELDRA: ustawiono georeferencje projektu: E=" in err
    assert "VELDRA: wektory w lokalnych wsp. X[" in err

    p = json.loads(project.read_text(encoding="utf-8"))
    layers = {l["index"]: l["name"] for l in p["attributes"]["layers"]}
    by_layer = {}
    for e in p["elements"]:
        by_layer.setdefault(layers[e["layer"]], []).append(e["type"])
    assert sorted(by_layer["GIS_DZIALKI"]) == [20, 20]
    assert by_layer["GIS_BUDYNKI"] == [18]
    assert by_layer["GIS_TEREN"] == [10]
    outline = next(e for e in p["elements"] if e["type"] == 20)
    assert outline["contourPen"] == 10
    # The height worker found the sheet and wrote the height (ramp: about 100 m + 0.05 m/m).
    geo = p["geolocation"]
    assert geo["crsName"] == "EPSG:2178"
    assert 99.0 < geo["surveyHeight"] < 120.0
    # A parcel corner lands where PROJ puts it, relative to the survey point, within 1 mm.
    e, n = cs2cs_2000(*parcel_gml_corner())
    x, y = outline["memo"]["points"][0], outline["memo"]["points"][1]
    assert abs(x - (e - geo["surveyEasting"])) < 0.001, (x, e - geo["surveyEasting"])
    assert abs(y - (n - geo["surveyNorthing"])) < 0.001, (y, n - geo["surveyNorthing"])


def test_place_without_georeference_is_refused_and_the_project_stays(tmp_path):
    rts, files = routes()
    root = write_manifest(tmp_path / "fx", rts, files)
    project = tmp_path / "projekt.json"
    with MockServices(root, tmp_path, extra_rewrites=[fp.LUBLIN]) as fx:
        s = Session(project, fx.env(), tmp_path / "home")
        s.send({"type": "fetch", "bboxWgs84": [fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH], "layers": ["dzialki"]},
               until={"fetchDone"})
        first = s.send({"type": "place"}, until={"placeDone", "error"})
        code, err = s.close()
    assert code == 0, err
    assert first["type"] == "error"
    assert first["msg"].startswith("Projekt nie ma georeferencji.")
    p = json.loads(project.read_text(encoding="utf-8"))
    assert p["elements"] == []
    assert [l["name"] for l in p["attributes"]["layers"]] == ["Domyslna"]
