"""The place scenario's fixture (two parcels, a building, one NMT sheet) plus a county LOD1
package with two blocks, for the host window's plan and 3D views. Prints the frame, the centre and the county
rewrite as JSON."""

import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "integration"))
from fixture import write_manifest  # noqa: E402
import test_buildings3d as b3  # noqa: E402
import test_fetch_pipeline as fp  # noqa: E402
from test_place_pipeline import LAT, LON, routes  # noqa: E402

rts, files = routes()
lod1 = b3.sheet({"b1": b3.box(b3.X0, b3.Y0, 10, 10, 100.0, 112.0)[:2],
                 "b2": b3.box(b3.X0 + 30, b3.Y0, 12, 8, 100.0, 110.0)[:2]})
files["lod1.zip"] = b3.package(lod1)
write_manifest(sys.argv[1], rts + [fp.route(b3.LOD1, body_file="lod1.zip")], files)
print(json.dumps({"bbox": [fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH], "lat": LAT, "lon": LON,
                  "rewrite": list(fp.LUBLIN)}))
