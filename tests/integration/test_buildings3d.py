"""LOD1 and LOD2 buildings from county packages the test builds, through one `veldra bridge map
--project` session: fetch, place, export; the heights are read back from the DXF (ezdxf) and the
GLB against the survey point's height, and every body is checked by CGAL when the checker is built."""

import io
import json
import struct
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from fixture import dxf_heights, read_dxf, serve, solid_checks, veldra  # noqa: E402
import test_fetch_pipeline as fp  # noqa: E402
from test_place_pipeline import session  # noqa: E402

LOD1 = "/opendata/InneDane/Budynki3D/LOD1/2024/06/0663.zip"
LOD2 = "/opendata/InneDane/Budynki3D/LOD2/0663_gml.zip"
X0, Y0 = fp.CX - 20, fp.CY - 10   # the shared building (both packages), PL-1992


def ring(pts):
    return ("<gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>"
            + " ".join(f"{x:.2f} {y:.2f} {z:.2f}" for x, y, z in pts + pts[:1])
            + "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>")


def box(x0, y0, w, d, lo, hi):
    """Ground, roof and walls of a block, each face counter-clockwise seen from outside."""
    c = [(x0, y0), (x0 + w, y0), (x0 + w, y0 + d), (x0, y0 + d)]
    faces = [[(x, y, lo) for x, y in reversed(c)], [(x, y, hi) for x, y in c]]
    for (ax, ay), (bx, by) in zip(c, c[1:] + c[:1]):
        faces.append([(ax, ay, lo), (bx, by, lo), (bx, by, hi), (ax, ay, hi)])
    return faces


def sheet(buildings):
    xs = [p[0] for faces in buildings.values() for f in faces for p in f]
    ys = [p[1] for faces in buildings.values() for f in faces for p in f]
    body = "".join(f'<core:cityObjectMember><bldg:Building gml:id="{bid}">{"".join(ring(f) for f in faces)}'
                   f"</bldg:Building></core:cityObjectMember>" for bid, faces in buildings.items())
    return ('<?xml version="1.0" encoding="UTF-8"?><core:CityModel xmlns:core="http://www.opengis.net/citygml/2.0" '
            'xmlns:bldg="http://www.opengis.net/citygml/building/2.0" xmlns:gml="http://www.opengis.net/gml">'
            f'<gml:boundedBy><gml:Envelope srsName="EPSG:2180"><gml:lowerCorner>{min(xs)} {min(ys)} 0</gml:lowerCorner>'
            f'<gml:upperCorner>{max(xs)} {max(ys)} 200</gml:upperCorner></gml:Envelope></gml:boundedBy>'
            f"{body}</core:CityModel>")


def package(text):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("arkusz_1.gml", text)
    return buf.getvalue()


def glb_z_ranges(path):
    """Node name -> (lowest, highest) project height of its mesh (glTF is y-up under a translated root)."""
    data = path.read_bytes()
    length = struct.unpack_from("<I", data, 12)[0]
    g = json.loads(data[20:20 + length])
    lift = g["nodes"][0].get("translation", [0, 0, 0])[1]
    out = {}
    for n in g["nodes"]:
        if "mesh" in n:
            acc = g["accessors"][g["meshes"][n["mesh"]]["primitives"][0]["attributes"]["POSITION"]]
            out[n["name"]] = (round(acc["min"][1] + lift, 2), round(acc["max"][1] + lift, 2))
    return out


def test_lod1_and_lod2_packages_fetched_placed_and_exported(tmp_path):
    shared = box(X0, Y0, 10, 10, 100.0, 112.0)
    lod1 = sheet({"b1": [shared[0], shared[1]], "b2": [f for f in box(X0 + 30, Y0, 12, 8, 100.0, 110.0)[:2]]})
    nmt = fp.nmt(fp.asc_ramp())
    files = {**nmt["files"], "lod1.zip": package(lod1), "lod2.zip": package(sheet({"b1": shared}))}
    # The LOD1 package answers late, so the origin's height (looked up in the NMT sheet) is written first.
    routes = [fp.route(fp.PRG, fp.prg("0663011")), fp.route(LOD1, body_file="lod1.zip", delay_ms=400),
              fp.route(LOD2, body_file="lod2.zip")] + nmt["routes"]
    project, home = tmp_path / "projekt.json", tmp_path / "home"
    with serve(tmp_path, routes, files) as fx:
        (_, done, placed), seen, err = session(project, fx, home, layers=["budynki3d", "budynkilod2"])
    assert done["counts"] == {"budynki3d": 2, "budynkilod2": 1}, done
    assert done["warning"] == ("Modele 3D: LOD1 2024, powiat 0663, budynkow w kadrze: 2 "
                               "Budynki LOD2: powiat 0663, budynkow w kadrze: 1"), done
    labels = {m["label"] for m in seen if m.get("type") == "progress"}
    assert {"Modele 3D: arkusze", "Budynki LOD2: arkusze"} <= labels, labels
    assert placed["type"] == "placeDone", placed
    assert placed["counts"] == {"budynki3d": 1, "budynkilod2": 1}, placed   # b1 only once: as LOD2
    assert "VELDRA LOD1: pominieto 1 bryl dublujacych sie z dachami LOD2" in err
    assert "VELDRA LOD2: utworzono 1 (czyste: 1, triangulacja: 0, zupa: 0, pominieto 0 (zdegenerowane: 0)" in err

    # Without terrain in the fetch, heights are measured from the survey point.
    h = json.loads(project.read_text(encoding="utf-8"))["geolocation"]["surveyHeight"]
    assert 99.0 < h < 120.0, h
    assert f"LOD1: zOff={h:.3f} (buildingZOffset) budynkow=2" in (home / "diag" / "orvane_z_diag.txt").read_text()
    expected = {"GIS_BUDYNKI_3D": (round(100 - h, 2), round(110 - h, 2)),
                "GIS_BUDYNKI_LOD2": (round(100 - h, 2), round(112 - h, 2))}
    dxf, glb = tmp_path / "out.dxf", tmp_path / "out.glb"
    assert veldra("export", "--project", project, "--dxf", dxf, "--gltf", glb).returncode == 0
    drawing, _ = read_dxf(dxf)
    assert {layer: (round(min(zs), 2), round(max(zs), 2)) for layer, zs in dxf_heights(drawing).items()} == expected
    z = glb_z_ranges(glb)
    assert (z["b2"], z["b1"]) == (expected["GIS_BUDYNKI_3D"], expected["GIS_BUDYNKI_LOD2"]), z

    cgal, _ = solid_checks(glb)
    assert not cgal or sorted(b["name"] for b in cgal if b["closed"] and b["outward"]) == ["b1", "b2"], cgal
