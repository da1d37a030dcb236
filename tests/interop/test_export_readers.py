"""The exported DXF and GLB read by other programs: ezdxf, GDAL, the Khronos validator, assimp."""
import base64
import json
import shutil
import subprocess
import pytest

from fixture import NODE_DIR, read_dxf, veldra
from test_national_cascades import png


def flat(points):
    return [c for p in points for c in p]


def element(guid, type_, layer, memo, **fields):
    e = {"guid": guid, "type": type_, "layer": layer, "floor": 0, "info": "", "contourPen": 1, "memo": memo}
    e.update(fields)
    return e


def project():
    square = [(0, 0), (10, 0), (10, 10), (0, 10), (0, 0)]
    hole = [(2, 2), (4, 2), (4, 4), (2, 4), (2, 2)]
    lattice = [[x, y, 100 + x * 0.1 + y * 0.05] for y in (0, 10, 20) for x in (0, 10, 20)]
    rows = [flat(lattice[i * 3:(i + 1) * 3]) for i in range(3)]
    return {
        "format": "veldra-project", "version": 1, "activeFloor": 0, "nextGuid": 20,
        "attributes": {
            "layers": [{"index": 1, "name": "Domyslna"}, {"index": 2, "name": "GIS_DZIALKI"},
                       {"index": 3, "name": "GIS_POG"}, {"index": 4, "name": "GIS_TEREN"},
                       {"index": 5, "name": "GIS_RASTRY"}],
            "fillTypes": [{"index": 1, "name": "Pelne", "usableForFills": True, "solid": True, "hatch": False},
                          {"index": 2, "name": "Kreskowanie", "usableForFills": True, "solid": False, "hatch": True}],
            "surfaceMaterials": [{"index": 1, "name": "Tynk", "rgb": [0.9, 0.9, 0.9]}],
            "buildingMaterials": [{"index": 1, "name": "Beton"}],
        },
        "geolocation": {"surveyEasting": 7501234.5, "surveyNorthing": 5788000.25, "surveyHeight": 101.5,
                        "crsName": "EPSG:2178"},
        "elements": [
            element("E0000001", 20, 2, {"points": flat(square), "ringEnds": [5]}, closed=True),
            element("E0000002", 20, 2, {"points": flat(hole), "ringEnds": [5]}, closed=True),
            element("E0000003", 15, 2, {"text": "12/5 \u0141\u00f3d\u017a"}, textSize=1.5, angle=0.3,
                    location=[5, 5]),
            element("E0000004", 18, 3, {"points": flat(square) + flat(hole), "ringEnds": [5, 10]},
                    fillType=1, useRgbColor=True, rgb=[140 / 255, 123 / 255, 107 / 255]),
            element("E0000005", 18, 3, {"points": flat(square), "ringEnds": [5]}, fillType=2),
            element("E0000006", 10, 4, {"points": flat([(0, 0), (20, 0), (20, 20), (0, 20), (0, 0)]),
                                        "ringEnds": [5], "z": [0, 2, 3, 1, 0], "levelLines": rows}),
            element("E0000007", 8, 4, {"points": flat(square), "ringEnds": [5]}, thickness=0.3, level=1.0),
            element("E0000008", 31, 5, {"pixels": base64.b64encode(png(4, 2, lambda x, y: (128, 64, 32, 255))).decode()},
                    location=[0, 0], width=40.0, height=20.0, angle=0.1),
        ],
    }


@pytest.fixture(scope="module")
def exported(tmp_path_factory):
    d = tmp_path_factory.mktemp("export")
    proj = d / "projekt.json"
    proj.write_text(json.dumps(project()), encoding="utf-8")
    dxf, glb = d / "projekt.dxf", d / "projekt.glb"
    r = veldra("export", "--project", proj, "--dxf", dxf, "--gltf", glb)
    assert r.returncode == 0, r.stderr
    return d, dxf, glb


def test_ezdxf_reads_and_audits_the_drawing(exported):
    d, dxf, _ = exported
    doc, kinds = read_dxf(dxf)
    msp = doc.modelspace()
    assert kinds == {("GIS_DZIALKI", "LWPOLYLINE"): 2, ("GIS_DZIALKI", "TEXT"): 1, ("GIS_POG", "HATCH"): 2,
                     ("GIS_TEREN", "POLYLINE"): 2, ("GIS_RASTRY", "IMAGE"): 1}
    [text] = msp.query("TEXT")
    assert text.dxf.text == "12/5 \u0141\u00f3d\u017a"
    assert text.dxf.height == pytest.approx(0.15)
    assert text.dxf.rotation == pytest.approx(0.3 * 180 / 3.141592653589793)
    solid, pattern = msp.query("HATCH")
    assert solid.dxf.pattern_name == "SOLID" and solid.rgb == (140, 123, 107)
    assert len(solid.paths) == 2
    assert pattern.dxf.pattern_name != "SOLID"
    mesh = msp.query("POLYLINE")[0]
    assert mesh.is_poly_face_mesh
    image = msp.query("IMAGE")[0]
    assert (d / image.image_def.dxf.filename).is_file()
    assert doc.header.custom_vars.get("VELDRA_CRS") == "EPSG:2178"
    assert float(doc.header.custom_vars.get("VELDRA_SURVEY_E")) == 7501234.5
    assert doc.header["$INSUNITS"] == 6


def test_gdal_reads_the_drawing(exported):
    _, dxf, _ = exported
    r = subprocess.run(["ogrinfo", "--config", "DXF_ENCODING", "UTF-8", "-ro", "-al", "-q", str(dxf)],
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    assert "ERROR" not in r.stderr
    assert "Layer (String) = GIS_DZIALKI" in r.stdout
    assert "12/5 \u0141\u00f3d\u017a" in r.stdout


@pytest.mark.skipif(not (NODE_DIR / "node_modules" / "gltf-validator").is_dir(),
                    reason="gltf-validator not installed (npm ci in tests/node)")
def test_khronos_validator_finds_no_errors(exported):
    _, _, glb = exported
    r = subprocess.run(["node", str(NODE_DIR / "gltf_validate.js"), str(glb)], capture_output=True,
                       text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    issues = json.loads(r.stdout)
    assert issues["numErrors"] == 0, issues["messages"]


@pytest.mark.skipif(shutil.which("assimp") is None, reason="assimp-utils not installed")
def test_assimp_loads_the_model(exported):
    _, _, glb = exported
    r = subprocess.run(["assimp", "info", str(glb)], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    assert "Meshes:" in r.stdout


def test_unwritable_target_is_reported(exported, tmp_path):
    d, _, _ = exported
    blocker = tmp_path / "plik"
    blocker.write_text("x")
    r = veldra("export", "--project", d / "projekt.json", "--dxf", blocker / "a.dxf")
    assert r.returncode == 1
    assert "DXF" in r.stderr
