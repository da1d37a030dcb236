"""Writes the fixture server manifest of the place scenario (two parcels, a building, one NMT
sheet in the Lublin county) into DIR and prints the frame and the county rewrite as JSON, so
the browser tests import the same data as the command-line ones."""

import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "integration"))
from fixture import write_manifest  # noqa: E402
import test_fetch_pipeline as fp  # noqa: E402
from test_place_pipeline import LAT, LON, routes  # noqa: E402

rts, files = routes()
write_manifest(sys.argv[1], rts, files)
print(json.dumps({"bbox": [fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH], "lat": LAT, "lon": LON,
                  "rewrite": list(fp.LUBLIN)}))
