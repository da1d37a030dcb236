"""Every command-line tool against bad input: a clear message and exit status, memory bounded by a
small multiple of what the input really holds, and an output file that was there before left as it was."""
import functools
import json
import math
import os
import struct
import subprocess
import tempfile

import pytest

from fixture import SMALL_QUARANTINE, VELDRA_BIN, private_env, read_dxf, veldra

MB = 1 << 20
# Peak resident memory allowed: a fixed base (sanitizer runtime, libraries) plus this many times the
# bytes the input really holds (a sparse file holds none).
BASE_MB, PER_INPUT_BYTE = 160, 6


def las(version=(1, 2), fmt=0, record=20, points=1, scale=(0.01, 0.01, 0.01), header=227, offset=None,
        signature=b"LASF", body=None, vlrs=b""):
    """A small LAS file; fields can be spoiled one at a time."""
    offset = header + len(vlrs) if offset is None else offset
    h = bytearray(header)
    h[0:4] = signature
    h[24], h[25] = version
    struct.pack_into("<HIIBHI", h, 94, header, offset, 1 if vlrs else 0, fmt, record, points)
    struct.pack_into("<3d3d", h, 131, *scale, 0.0, 0.0, 0.0)
    struct.pack_into("<6d", h, 179, 1.0, 0.0, 1.0, 0.0, 1.0, 0.0)
    if body is None:
        body = b"".join(struct.pack("<3i", 10 * i, 20 * i, 30 * i).ljust(record, b"\0") for i in range(points))
    return bytes(h) + vlrs + body


def vlr(record_id, length):
    return b"\0\0" + b"x".ljust(16, b"\0") + struct.pack("<HH", record_id, length) + b"\0" * 32


GOOD_ASC = "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999"


def asc(old="", new="", data="1 2 3 4"):
    """A 2 x 2 grid with one piece of its header replaced."""
    return (GOOD_ASC.replace(old, new) + "\n" + data + "\n").encode()


BIG_ASC = dict(old="ncols 2\nnrows 2", new="ncols 20000\nnrows 20000")


def gml_member(poslist, srs="EPSG:2180", tag="Polygon"):
    ring = f"<gml:exterior><gml:LinearRing><gml:posList>{poslist}</gml:posList></gml:LinearRing></gml:exterior>"
    return (f'<wfs:FeatureCollection xmlns:wfs="w" xmlns:gml="g"><wfs:member><ms:d xmlns:ms="m"><ms:g>'
            f'<gml:{tag} srsName="{srs}">{ring}</gml:{tag}></ms:g></ms:d></wfs:member></wfs:FeatureCollection>').encode()


@functools.lru_cache(maxsize=None)
def empty_project():
    """A new project as the program saves it."""
    path = os.path.join(tempfile.mkdtemp(prefix="veldra_bad_"), "empty.json")
    subprocess.run([VELDRA_BIN, "bridge", "map", "--project", path], input=b"", check=True, timeout=60)
    with open(path, "rb") as f:
        return f.read()


def huge_coordinates_project(path):
    """A slab whose corners no GLB float (and no sum of DXF numbers) can hold, beside a normal one."""
    doc = json.loads(empty_project())
    for guid, far in (("a", 1e308), ("b", 10.0)):
        doc["elements"].append({"guid": guid, "type": 8, "layer": 1, "thickness": 0.3,
                                "memo": {"points": [0, 0, far, 0, far, far, 0, far, 0, 0], "ringEnds": [5]}})
    with open(path, "w") as f:
        json.dump(doc, f)


# Inputs made at their path (giving the bytes they hold) instead of written.
def sparse(size, head):
    def make(path):
        with open(path, "wb") as f:
            f.write(head)
            f.truncate(size)
        return len(head)
    return make


def fifo(path):
    os.mkfifo(path)


def missing(path):
    pass


def case(name, argv, content, message, status=1, stdin=None):
    """argv names INPUT (the bad file), OUT and OUT2 (output files that exist beforehand), PROJECT (a good
    project) and LAS (a good LAS file)."""
    return pytest.param(argv, content, stdin, status, message, id=name)


NOT_REGULAR = "nie jest zwyklym plikiem"
NO_PROJECT = "Nie mozna wczytac projektu"
LAZINFO = ["lazinfo", "INPUT"]
LAZ2E57 = ["laz2e57", "INPUT", "--out", "OUT"]
SAMPLE = ["asc-sample", "INPUT", "--at", "0.5,0.5"]
CONTOURS = ["asc-contours", "INPUT", "--interval", "1", "--out", "OUT"]
GML = ["gml2geojson", "INPUT"]
EXPORT = ["export", "--project", "INPUT", "--dxf", "OUT", "--gltf", "OUT2"]
BRIDGE_PROJECT = ["bridge", "map", "--project", "INPUT"]
BRIDGE = ["bridge", "map", "--project", "PROJECT"]
MALFORMED = "Nieprawidlowa wiadomosc z UI (JSON)"

CASES = [
    # LAS / LAZ
    case("las empty", LAZINFO, b"", "cannot read"),
    case("las truncated header", LAZINFO, b"LASF" + b"\0" * 50, "cannot read"),
    case("las wrong signature", LAZINFO, las(signature=b"XXXX"), "cannot read"),
    case("las version 2.0", LAZINFO, las(version=(2, 0)), "unsupported LAS version 2.0"),
    case("las header below 227", LAZINFO, las()[:94] + struct.pack("<H", 100) + las()[96:], "header size below 227"),
    case("las points offset past end", LAZINFO, las(offset=1 << 30), "offset to point data outside"),
    case("las unknown format", LAZINFO, las(fmt=12), "unknown point data format 12"),
    case("las waveform format", LAZINFO, las(fmt=4, record=57), "waveform"),
    case("las record too short", LAZINFO, las(record=10), "record length 10 too small"),
    case("las scale zero", LAZINFO, las(scale=(0.01, 0.0, 0.01)), "invalid LAS scale"),
    case("las scale nan", LAZINFO, las(scale=(float("nan"), 0.01, 0.01)), "invalid LAS scale"),
    case("las vlr into points", LAZINFO, las(vlrs=vlr(1, 5000)), "VLR runs into the point data"),
    case("las points cut short", LAZINFO + ["--points", "50"], las(points=50)[:227 + 203], "50 points of 20 bytes"),
    case("las fifo", LAZINFO, fifo, NOT_REGULAR),
    case("las missing", LAZINFO, missing, "nie mozna otworzyc"),
    case("las without points", LAZINFO + ["--points", "10"], las(points=0), "point count: 0", 0),
    case("lazinfo without file", ["lazinfo"], None, "usage: veldra lazinfo", 2),
    case("lazinfo points without value", LAZINFO + ["--points"], las(), "usage: veldra lazinfo", 2),
    case("lazinfo points negative", LAZINFO + ["--points", "-3"], las(), "--points needs a whole number", 2),
    case("lazinfo points not a number", LAZINFO + ["--points", "x"], las(), "--points needs a whole number", 2),
    case("lazinfo unknown option", LAZINFO + ["--bogus"], las(), "unknown option --bogus", 2),
    case("laz2e57 scale zero", LAZ2E57, las(scale=(0.0, 0.01, 0.01)), "invalid LAS scale"),
    case("laz2e57 truncated", LAZ2E57, las()[:200], "cannot read"),
    case("laz2e57 no points", LAZ2E57, las(points=0), "the input files hold no points"),
    case("laz2e57 second input junk", ["laz2e57", "LAS", "INPUT", "--out", "OUT"], b"not a point cloud",
         "file too short for a LAS header"),
    case("laz2e57 voxel nan", ["laz2e57", "LAS", "--out", "OUT", "--voxel", "nan"], None, "--voxel needs", 2),
    case("laz2e57 without output", ["laz2e57", "LAS"], None, "usage: veldra laz2e57", 2),
    case("laz2e57 output without name", ["laz2e57", "LAS", "--out"], None, "usage: veldra laz2e57", 2),
    case("laz2e57 unwritable target", ["laz2e57", "LAS", "--out", "no/such/dir.e57"], None, "Nie mozna zapisac pliku e57."),
    # Point-cloud download
    *(case(f"cloud bbox {v}", ["cloud", "--bbox", v, "--detail", "lekki", "--out", "OUT"], None, "--bbox needs four numbers", 2)
      for v in ("21.5,51.5,21.503", "a,b,c,d", "21.5,51.5,21.503,95")),
    # The loopback server
    *(case("ui " + " ".join(args), ["ui", *args], None, "usage: veldra ui", 2)
      for args in (["--port"], ["--port", "70000"], ["--port", "x"], ["--project"], ["--nope"])),
    # ASC grids
    case("asc empty", SAMPLE, b"", "expected 6 keyword/value lines, got 0"),
    case("asc short header", SAMPLE, b"ncols 2\nnrows 2\n", "expected 6 keyword/value lines"),
    case("asc unknown keyword", SAMPLE, asc("cellsize", "cellsajz"), "unknown keyword 'cellsajz'"),
    case("asc ncols zero", SAMPLE, asc("ncols 2", "ncols 0"), "at least 1"),
    case("asc ncols fraction", SAMPLE, asc("ncols 2", "ncols 2.9"), "whole numbers"),
    case("asc nrows fraction", SAMPLE, asc("nrows 2", "nrows 1.5"), "whole numbers"),
    case("asc cellsize zero", SAMPLE, asc("cellsize 1", "cellsize 0"), "cellsize must be greater than 0"),
    case("asc too many cells", SAMPLE, asc("ncols 2", "ncols 2000000000"), "exceed the limit"),
    case("asc file too short", SAMPLE, asc(data="1 2 3"), "3 of 4 values present"),
    case("asc announced cells missing", SAMPLE, asc(**BIG_ASC, data="1 2 3"), "file too short for 20000 x 20000"),
    case("asc bad value", SAMPLE, asc(data="1 2 x 4"), "value 3 unreadable"),
    case("asc sparse zeros", SAMPLE, sparse(80 * MB, asc("ncols 2\nnrows 2", "ncols 6000\nnrows 6000", "1")), "data:"),
    case("asc fifo", SAMPLE, fifo, NOT_REGULAR),
    case("asc contours announced cells missing", CONTOURS, asc(**BIG_ASC, data="1 2 3"), "file too short for 20000"),
    case("asc contours cut not allowed", ["asc-contours", "INPUT", "--interval", "0.3", "--out", "OUT"], asc(),
         "nie jest dozwolona", 2),
    case("asc contours inverted box", CONTOURS[:4] + ["--bbox", "5,5,1,1", "--out", "OUT"], asc(), "--bbox wants", 2),
    # GML
    case("gml empty", GML, b"", "niepoprawny XML", 3),
    case("gml binary", GML, bytes(range(256)) * 4, "niepoprawny XML", 3),
    case("gml cut off", GML, b"<wfs:FeatureCollection><wfs:member><ms:d><ms:g>", "niepoprawny XML", 3),
    case("gml too deep", GML, b"<a>" * 300 + b"</a>" * 300, "glebsze niz", 3),
    case("gml unclosed nesting", GML, b"<a>" * (6 * MB), "zbyt duzo pamieci", 3),
    case("gml element flood", GML, b"<r>" + b"<a/>" * (4 * MB) + b"</r>", "zbyt duzo pamieci", 3),
    case("gml long coordinate list", GML, gml_member("500000 600000 " * (1 * MB) + "500000 600000"), "1 obiektow", 0),
    case("gml short numbers", GML, gml_member("1 2 " * (3 * MB) + "1 2"), "1 obiektow", 0),
    case("gml exception report", GML, b'<ows:ExceptionReport xmlns:ows="o"><ows:Exception exceptionCode="Failed">'
         b'<ows:ExceptionText>too many features</ows:ExceptionText></ows:Exception></ows:ExceptionReport>',
         "raport wyjatku OGC: Failed: too many features", 3),
    case("gml unknown epsg", GML, gml_member("52.1 21.0 52.2 21.0 52.2 21.1 52.1 21.0", srs="EPSG:4326"),
         "nieznany uklad EPSG:4326", 0),
    case("gml two vertex polygon", GML, gml_member("500000 600000 500010 600010 500000 600000"), '{"features":[],', 0),
    case("gml fifo", GML, fifo, NOT_REGULAR),
    case("gml device", ["gml2geojson", "/dev/zero"], None, NOT_REGULAR),
    case("gml missing", GML, missing, "nie mozna otworzyc"),
    case("gml2geojson without file", ["gml2geojson"], None, "uzycie: veldra gml2geojson", 2),
    *(case(f"gml data type {v}", GML + ["--data-type", v], b"<a/>", "--data-type wymaga liczby", 2)
      for v in ("x", "20", "-1", "3x")),
    # Project files
    case("project empty", EXPORT, b"", NO_PROJECT),
    case("project not json", EXPORT, b"{nope", NO_PROJECT),
    case("project array", EXPORT, b"[1,2]", NO_PROJECT),
    case("project wrong format", EXPORT, b'{"format": "x", "version": 1}', NO_PROJECT),
    case("project deep nesting", EXPORT, b"[" * 100000 + b"]" * 100000, NO_PROJECT),
    case("project fifo", EXPORT, fifo, NO_PROJECT),
    case("bridge bad project", BRIDGE_PROJECT, b"{nope", NO_PROJECT),
    case("bridge project fifo", BRIDGE_PROJECT, fifo, NO_PROJECT),
    # Requests that fail must not touch the file they would have written
    case("fetch unreachable", ["fetch", "http://127.0.0.1:1/x", "--once", "--out", "OUT"], None, "error"),
    case("wfs unreachable", ["wfs-features", "http://127.0.0.1:1/wfs", "ms:dzialki", "0,0,1,1", "--out", "OUT"], None,
         "nie odpowiada"),
    # Bridge lines
    case("bridge not json", BRIDGE, None, MALFORMED, 0, b"this is not json\n"),
    case("bridge invalid utf8", BRIDGE, None, MALFORMED, 0, b'{"type": "\xff\xfe"}\n'),
    case("bridge line over cap", BRIDGE, None, MALFORMED, 0, b'{"type": "ping", "x": "' + b"a" * (2 * MB) + b'"}\n'),
    case("bridge huge line of numbers", BRIDGE, None, MALFORMED, 0, b"[" + b"1," * (24 * MB) + b"1]\n"),
    case("bridge unterminated line", BRIDGE, None, MALFORMED, 0, b"9" * (3 * MB)),
    case("bridge huge number", BRIDGE, None, MALFORMED, 0,
         b'{"type": "fetch", "bboxWgs84": [1e999, 0, 1, 1], "layers": []}\n'),
]


def run_measured(argv, stdin_bytes, cwd, env):
    """Runs one command; gives (status, stdout, stderr, peak resident MB). The peak is taken by
    /usr/bin/time: a child forked from this (large) test process would inherit its peak."""
    rss = os.path.join(cwd, "peak.txt")
    p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss, *argv], input=stdin_bytes or b"", cwd=cwd, env=env,
                       capture_output=True, timeout=120)
    with open(rss) as f:
        peak_kb = int(f.read().split()[-1])
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace"), peak_kb / 1024


@pytest.mark.parametrize("argv,content,stdin,status,message", CASES)
def test_bad_input(argv, content, stdin, status, message):
    work = tempfile.mkdtemp(prefix="veldra_bad_")
    env = private_env(os.path.join(work, "home"), **SMALL_QUARANTINE)
    paths = {k: os.path.join(work, v) for k, v in (("INPUT", "input"), ("OUT", "out.file"), ("OUT2", "out2.file"),
                                                    ("PROJECT", "p.json"), ("LAS", "good.las"))}
    held = len(stdin or b"")
    if callable(content):
        held += content(paths["INPUT"]) or 0
    elif content is not None:
        with open(paths["INPUT"], "wb") as f:
            held += f.write(content)
    if "LAS" in argv:
        with open(paths["LAS"], "wb") as f:
            held += f.write(las())
    for key, text in (("OUT", b"keep me\n"), ("OUT2", b"keep me\n"), ("PROJECT", empty_project())):
        with open(paths[key], "wb") as f:
            f.write(text)
    keep = [k for k in ("OUT", "OUT2", "PROJECT") + (("INPUT",) if "bridge" in argv else ()) if os.path.isfile(paths[k])]
    before = {k: open(paths[k], "rb").read() for k in keep}
    code, out, err, peak_mb = run_measured([VELDRA_BIN] + [paths.get(a, a) for a in argv], stdin, work, env)
    assert code == status, err[-2000:]
    assert message in out + err, (out[-2000:], err[-2000:])
    assert "AddressSanitizer" not in err and "runtime error" not in err
    assert peak_mb <= BASE_MB + PER_INPUT_BYTE * held / MB, f"peak {peak_mb:.0f} MB for {held} input bytes"
    if status != 0:
        assert argv[0] != "gml2geojson" or out == "", "no partial document"
        for key, text in before.items():
            assert open(paths[key], "rb").read() == text, f"{key} changed"
        leftovers = [n for n in os.listdir(work) if ".tmp." in n]
        assert not leftovers, leftovers


def test_huge_coordinates_are_left_out_of_exports_not_written_as_inf_or_null(tmp_path):
    src, dxf, glb = tmp_path / "p.json", tmp_path / "o.dxf", tmp_path / "o.glb"
    huge_coordinates_project(src)
    r = veldra("export", "--project", src, "--dxf", dxf, "--gltf", glb)
    assert r.returncode == 0 and r.stderr.count("poza zakresem liczb formatu: 1") == 2, r.stderr
    data = glb.read_bytes()
    (json_len,) = struct.unpack_from("<I", data, 12)
    doc = json.loads(data[20:20 + json_len])
    (acc,) = [a for a in doc["accessors"] if "min" in a]
    assert all(math.isfinite(v) for v in acc["min"] + acc["max"]) and max(acc["max"]) < 100
    drawing, _ = read_dxf(dxf)
    meshes = drawing.modelspace().query("POLYLINE")
    assert len(meshes) == 1
    for v in meshes[0].vertices:
        assert all(math.isfinite(c) and abs(c) < 100 for c in v.dxf.location)


def test_temporaries_of_dead_runs_are_swept_and_live_ones_kept(tmp_path):
    project = tmp_path / "p.json"
    dead = subprocess.Popen(["true"])
    dead.wait()
    stale, live = tmp_path / f"p.json.tmp.{dead.pid}.0", tmp_path / f"p.json.tmp.{os.getpid()}.3"
    other = tmp_path / f"q.json.tmp.{dead.pid}.0"
    for f in (stale, live, other):
        f.write_text("half")
    r = veldra("bridge", "map", "--project", project, input="")
    assert r.returncode == 0, r.stderr
    assert not stale.exists() and live.exists() and other.exists()
