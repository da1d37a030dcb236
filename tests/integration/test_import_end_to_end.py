"""`veldra import` end to end against the fixture server: fetch, place, save, DXF and GLB,
the outputs read back by ezdxf and assimp."""

import os
import struct
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from bridge_cli import veldra_bin  # noqa: E402
from fixture import MockServices, write_manifest  # noqa: E402
import test_fetch_pipeline as fp  # noqa: E402
from test_place_pipeline import LAT, LON, Session, routes  # noqa: E402

PY = "/usr/bin/python3"


def test_import_places_and_exports_what_other_programs_read(tmp_path):
    rts, files = routes()
    root = write_manifest(tmp_path / "fx", rts, files)
    project = tmp_path / "projekt.json"
    dxf, glb = tmp_path / "wynik.dxf", tmp_path / "wynik.glb"
    home = tmp_path / "home"
    with MockServices(root, tmp_path, extra_rewrites=[fp.LUBLIN]) as fx:
        # Georeference the project first, as the user does with "Ustaw lokalizacje".
        s = Session(project, fx.env(), home)
        origin = s.send({"type": "setOrigin", "lat": LAT, "lon": LON}, until={"originSet", "error"})
        code, err = s.close()
        assert code == 0 and origin["type"] == "originSet", (origin, err)

        env = fx.env({"XDG_CONFIG_HOME": str(home / "config"), "XDG_CACHE_HOME": str(home / "cache"),
                      "VELDRA_DIAG_DIR": str(home / "diag")})
        bbox = ",".join(str(v) for v in (fp.WEST, fp.SOUTH, fp.EAST, fp.NORTH))
        r = subprocess.run([veldra_bin(), "import", "--bbox", bbox, "--layers", "dzialki,budynki,teren",
                            "--terrain-step", "5", "--project", str(project), "--dxf", str(dxf), "--gltf", str(glb)],
                           capture_output=True, env=env, timeout=300)
    out = r.stdout.decode("utf-8", "replace")
    assert r.returncode == 0, out + r.stderr.decode("utf-8", "replace")
    assert "dzialki" in out

    # What was placed is read back from the DXF (the saved project is checked by test_place_pipeline).
    check = (
        "import ezdxf, collections, sys\n"
        "d = ezdxf.readfile(sys.argv[1])\n"
        "a = d.audit()\n"
        "c = collections.Counter((e.dxf.layer, e.dxftype()) for e in d.modelspace())\n"
        "print(len(a.errors)); print(c[('GIS_DZIALKI','LWPOLYLINE')]); print(c[('GIS_BUDYNKI','HATCH')]);"
        "print(c[('GIS_TEREN','POLYLINE')])\n")
    res = subprocess.run([PY, "-c", check, str(dxf)], capture_output=True, text=True, timeout=120)
    assert res.returncode == 0, res.stderr
    errors, parcels, fills, meshes = map(int, res.stdout.split())
    assert errors == 0
    assert parcels == 2 and fills == 1 and meshes >= 1

    data = glb.read_bytes()
    magic, version, length = struct.unpack("<4sII", data[:12])
    assert magic == b"glTF" and version == 2 and length == len(data)
    res = subprocess.run(["assimp", "info", str(glb)], capture_output=True, text=True, timeout=120)
    assert res.returncode == 0, res.stdout + res.stderr
