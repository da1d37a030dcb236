"""The cloud palette's fixture: a LiDAR index of two PL-1992 tiles that together cover the fetch
frame of the command-line tests with a ground point every metre, served slowly enough that a
download shows its progress and can be cancelled. Writes the manifest into DIR and prints the
frame, its centre and the index density as JSON (the shape views_fixture.py prints)."""

import json
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "integration"))
from cloudfiles import write_las  # noqa: E402
from fixture import write_manifest  # noqa: E402
import test_fetch_pipeline as fp  # noqa: E402
from test_cloud_surfaces import INDEX, TILES  # noqa: E402
from test_place_pipeline import LAT, LON  # noqa: E402

DENSITY = 4   # what the index says; the page first shows its default
MARGIN = 5


def tile(x0, x1):
    pts = [(x * 100, y * 100, 10000 + x % 7, 0, 2)
           for y in range(int(fp.MIN_Y) - MARGIN, int(fp.MAX_Y) + MARGIN)
           for x in range(int(x0), int(x1))]
    with tempfile.TemporaryDirectory() as tmp:
        write_las(Path(tmp) / "t.las", 1, pts)
        return (Path(tmp) / "t.las").read_bytes()


members = "".join(
    f"<wfs:member><gugik:SkorowidzDanychPomiarowychLIDAR2025><gugik:godlo>{name}</gugik:godlo>"
    f"<gugik:char_przestrz>{DENSITY}</gugik:char_przestrz><gugik:uklad_xy>PL-1992</gugik:uklad_xy>"
    f"<gugik:url_do_pobrania>{TILES}{name}.las</gugik:url_do_pobrania></gugik:SkorowidzDanychPomiarowychLIDAR2025></wfs:member>"
    for name in ("west", "east"))
files = {"west.las": tile(fp.MIN_X - MARGIN, fp.CX), "east.las": tile(fp.CX, fp.MAX_X + MARGIN)}
slow = {"chunk_size": 32768, "chunk_delay_ms": 120}
routes = [fp.route(INDEX, fp.collection(members))] + [
    fp.route("/opendata/lidar/" + name, body_file=name, **slow) for name in files]
write_manifest(sys.argv[1], routes, files)
print(json.dumps({"bbox": [fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH], "lat": LAT, "lon": LON, "density": DENSITY,
                  "rewrite": list(fp.LUBLIN)}))
