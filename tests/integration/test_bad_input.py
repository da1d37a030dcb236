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

from bridge_cli import veldra_bin

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


def asc(header, data="1 2 3 4"):
    return (header + "\n" + data + "\n").encode()


GOOD_ASC_HEADER = "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999"


def gml_member(poslist, srs="EPSG:2180", tag="Polygon"):
    ring = f"<gml:exterior><gml:LinearRing><gml:posList>{poslist}</gml:posList></gml:LinearRing></gml:exterior>"
    return (f'<wfs:FeatureCollection xmlns:wfs="w" xmlns:gml="g"><wfs:member><ms:d xmlns:ms="m"><ms:g>'
            f'<gml:{tag} srsName="{srs}">{ring}</gml:{tag}></ms:g></ms:d></wfs:member></wfs:FeatureCollection>').encode()


def project(text):
    return text.encode()


@functools.lru_cache(maxsize=None)
def empty_project():
    """A new project as the program saves it."""
    path = os.path.join(tempfile.mkdtemp(prefix="veldra_bad_"), "empty.json")
    subprocess.run([veldra_bin(), "bridge", "map", "--project", path], input=b"", check=True, timeout=60)
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
    return os.path.getsize(path)


# What goes where: INPUT is the bad file, OUT the pre-existing output file, PROJECT a good project.
# Each case: name, argv, input content (bytes, or a callable making the input at a path), standard
# input, expected exit status, expected text (in the messages).
def sparse(size, head):
    def make(path):
        with open(path, "wb") as f:
            f.write(head)
            f.truncate(size)
        return len(head)
    return make


def fifo(path):
    os.mkfifo(path)
    return 0


def directory(path):
    os.mkdir(path)
    return 0


def missing(path):
    return 0


NOT_REGULAR = "nie jest zwyklym plikiem"
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
    ("las empty", LAZINFO, b"", None, 1, "cannot read"),
    ("las truncated header", LAZINFO, b"LASF" + b"\0" * 50, None, 1, "cannot read"),
    ("las wrong signature", LAZINFO, las(signature=b"XXXX"), None, 1, "cannot read"),
    ("las version 2.0", LAZINFO, las(version=(2, 0)), None, 1, "unsupported LAS version 2.0"),
    ("las header below 227", LAZINFO, las()[:94] + struct.pack("<H", 100) + las()[96:], None, 1,
     "header size below 227"),
    ("las points offset past end", LAZINFO, las(offset=1 << 30), None, 1, "offset to point data outside"),
    ("las unknown format", LAZINFO, las(fmt=12), None, 1, "unknown point data format 12"),
    ("las waveform format", LAZINFO, las(fmt=4, record=57), None, 1, "waveform"),
    ("las record too short", LAZINFO, las(record=10), None, 1, "record length 10 too small"),
    ("las scale zero", LAZINFO, las(scale=(0.01, 0.0, 0.01)), None, 1, "invalid LAS scale"),
    ("las scale nan", LAZINFO, las(scale=(float("nan"), 0.01, 0.01)), None, 1, "invalid LAS scale"),
    ("las vlr into points", LAZINFO, las(vlrs=vlr(1, 5000)), None, 1, "VLR runs into the point data"),
    ("las fifo", LAZINFO, fifo, None, 1, NOT_REGULAR),
    ("las directory", LAZINFO, directory, None, 1, NOT_REGULAR),
    ("las missing", LAZINFO, missing, None, 1, "nie mozna otworzyc"),
    ("laz2e57 scale zero", LAZ2E57, las(scale=(0.0, 0.01, 0.01)), None, 1, "invalid LAS scale"),
    ("laz2e57 fifo", LAZ2E57, fifo, None, 1, NOT_REGULAR),
    ("laz2e57 truncated", LAZ2E57, las()[:200], None, 1, "cannot read"),
    # ASC grids
    ("asc empty", SAMPLE, b"", None, 1, "expected 6 keyword/value lines, got 0"),
    ("asc short header", SAMPLE, b"ncols 2\nnrows 2\n", None, 1, "expected 6 keyword/value lines"),
    ("asc unknown keyword", SAMPLE, asc(GOOD_ASC_HEADER.replace("cellsize", "cellsajz")), None, 1,
     "unknown keyword 'cellsajz'"),
    ("asc ncols zero", SAMPLE, asc(GOOD_ASC_HEADER.replace("ncols 2", "ncols 0")), None, 1, "at least 1"),
    ("asc ncols fraction", SAMPLE, asc(GOOD_ASC_HEADER.replace("ncols 2", "ncols 2.9")), None, 1, "whole numbers"),
    ("asc nrows fraction", SAMPLE, asc(GOOD_ASC_HEADER.replace("nrows 2", "nrows 1.5")), None, 1, "whole numbers"),
    ("asc cellsize zero", SAMPLE, asc(GOOD_ASC_HEADER.replace("cellsize 1", "cellsize 0")), None, 1,
     "cellsize must be greater than 0"),
    ("asc cellsize nan", SAMPLE, asc(GOOD_ASC_HEADER.replace("cellsize 1", "cellsize nan")), None, 1, "cellsize"),
    ("asc too many cells", SAMPLE, asc(GOOD_ASC_HEADER.replace("ncols 2", "ncols 2000000000")), None, 1,
     "exceed the limit"),
    ("asc file too short", SAMPLE, asc(GOOD_ASC_HEADER, "1 2 3"), None, 1, "3 of 4 values present"),
    ("asc bad value", SAMPLE, asc(GOOD_ASC_HEADER, "1 2 x 4"), None, 1, "value 3 unreadable"),
    ("asc sparse zeros", SAMPLE, sparse(80 * MB, asc(GOOD_ASC_HEADER.replace("ncols 2", "ncols 6000")
                                                     .replace("nrows 2", "nrows 6000"), "1")), None, 1, "data:"),
    ("asc fifo", SAMPLE, fifo, None, 1, NOT_REGULAR),
    ("asc directory", SAMPLE, directory, None, 1, NOT_REGULAR),
    ("asc contours fraction", CONTOURS, asc(GOOD_ASC_HEADER.replace("ncols 2", "ncols 2.5")), None, 1,
     "whole numbers"),
    # GML
    ("gml empty", GML, b"", None, 3, "niepoprawny XML"),
    ("gml binary", GML, bytes(range(256)) * 4, None, 3, "niepoprawny XML"),
    ("gml mismatched", GML, b"<a><b></a>", None, 3, "niepoprawny XML"),
    ("gml too deep", GML, b"<a>" * 300 + b"</a>" * 300, None, 3, "glebsze niz"),
    ("gml unclosed nesting", GML, b"<a>" * (6 * MB), None, 3, "zbyt duzo pamieci"),
    ("gml element flood", GML, b"<r>" + b"<a/>" * (4 * MB) + b"</r>", None, 3, "zbyt duzo pamieci"),
    ("gml long coordinate list", GML, gml_member("500000 600000 " * (1 * MB) + "500000 600000"), None, 0,
     "1 obiektow"),
    ("gml short numbers", GML, gml_member("1 2 " * (3 * MB) + "1 2"), None, 0, "1 obiektow"),
    ("gml exception report", GML, b'<ows:ExceptionReport xmlns:ows="o"><ows:Exception exceptionCode="X"/>'
                                  b'</ows:ExceptionReport>', None, 3, "raport wyjatku OGC: X"),
    ("gml unknown epsg", GML, gml_member("52.1 21.0 52.2 21.0 52.2 21.1 52.1 21.0", srs="EPSG:4326"), None, 0,
     "nieznany uklad EPSG:4326"),
    ("gml two vertex polygon", GML, gml_member("500000 600000 500010 600010 500000 600000"), None, 0,
     '{"features":[],'),
    ("gml fifo", GML, fifo, None, 1, NOT_REGULAR),
    ("gml directory", GML, directory, None, 1, NOT_REGULAR),
    ("gml device", ["gml2geojson", "/dev/zero"], None, None, 1, NOT_REGULAR),
    # Project files
    ("project empty", EXPORT, b"", None, 1, "Nie mozna wczytac projektu"),
    ("project not json", EXPORT, b"{nope", None, 1, "Nie mozna wczytac projektu"),
    ("project array", EXPORT, b"[1,2]", None, 1, "Nie mozna wczytac projektu"),
    ("project wrong format", EXPORT, project('{"format": "x", "version": 1}'), None, 1, "Nie mozna wczytac projektu"),
    ("project deep nesting", EXPORT, b"[" * 100000 + b"]" * 100000, None, 1, "Nie mozna wczytac projektu"),
    ("project fifo", EXPORT, fifo, None, 1, "Nie mozna wczytac projektu"),
    ("project directory", EXPORT, directory, None, 1, "Nie mozna wczytac projektu"),
    ("project huge coordinates", EXPORT, huge_coordinates_project, None, 0, "poza zakresem liczb formatu"),
    ("bridge bad project", BRIDGE_PROJECT, b"{nope", None, 1, "Nie mozna wczytac projektu"),
    ("bridge project fifo", BRIDGE_PROJECT, fifo, None, 1, "Nie mozna wczytac projektu"),
    # Requests that fail must not touch the file they would have written
    ("fetch unreachable", ["fetch", "http://127.0.0.1:1/x", "--once", "--out", "OUT"], None, None, 1, "error"),
    ("wfs unreachable", ["wfs-features", "http://127.0.0.1:1/wfs", "ms:dzialki", "0,0,1,1", "--out", "OUT"], None,
     None, 1, "nie odpowiada"),
    # Bridge lines
    ("bridge not json", BRIDGE, None, b"this is not json\n", 0, MALFORMED),
    ("bridge invalid utf8", BRIDGE, None, b'{"type": "\xff\xfe"}\n', 0, MALFORMED),
    ("bridge line over cap", BRIDGE, None, b'{"type": "ping", "x": "' + b"a" * (2 * MB) + b'"}\n', 0, MALFORMED),
    ("bridge huge line of numbers", BRIDGE, None, b"[" + b"1," * (24 * MB) + b"1]\n", 0, MALFORMED),
    ("bridge unterminated line", BRIDGE, None, b"9" * (3 * MB), 0, MALFORMED),
    ("bridge huge number", BRIDGE, None, b'{"type": "fetch", "bboxWgs84": [1e999, 0, 1, 1], "layers": []}\n', 0,
     MALFORMED),
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


@pytest.mark.parametrize("name,argv,content,stdin,status,message", CASES, ids=[c[0] for c in CASES])
def test_bad_input(name, argv, content, stdin, status, message):
    work = tempfile.mkdtemp(prefix="veldra_bad_")
    home = os.path.join(work, "home")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_CACHE_HOME=os.path.join(home, "cache"),
               VELDRA_DIAG_DIR=os.path.join(home, "diag"), VELDRA_OPEN_LOG=os.path.join(home, "opened.txt"))
    paths = {k: os.path.join(work, v) for k, v in
             (("INPUT", "input"), ("OUT", "out.file"), ("OUT2", "out2.file"), ("PROJECT", "p.json"))}
    held = len(stdin or b"")
    if callable(content):
        held += content(paths["INPUT"]) or 0
    elif content is not None:
        with open(paths["INPUT"], "wb") as f:
            f.write(content)
        held += len(content)
    before = {}
    for key in ("OUT", "OUT2", "PROJECT") + (("INPUT",) if "bridge" in argv else ()):
        if key == "INPUT" and not os.path.isfile(paths[key]):
            continue
        text = empty_project() if key == "PROJECT" else b"keep me\n"
        if key != "INPUT":
            with open(paths[key], "wb") as f:
                f.write(text)
        with open(paths[key], "rb") as f:
            before[key] = f.read()
    cmd = [veldra_bin()] + [paths.get(a, a) for a in argv]
    code, out, err, peak_mb = run_measured(cmd, stdin, work, env)
    assert code == status, err[-2000:]
    assert message in out + err, (out[-2000:], err[-2000:])
    assert "AddressSanitizer" not in err and "runtime error" not in err
    assert peak_mb <= BASE_MB + PER_INPUT_BYTE * held / MB, f"peak {peak_mb:.0f} MB for {held} input bytes"
    if status != 0:
        for key, text in before.items():
            with open(paths[key], "rb") as f:
                assert f.read() == text, f"{key} changed"
        leftovers = [n for n in os.listdir(work) if ".tmp." in n]
        assert not leftovers, leftovers


def test_huge_coordinates_are_left_out_of_exports_not_written_as_inf_or_null(tmp_path):
    src, dxf, glb = tmp_path / "p.json", tmp_path / "o.dxf", tmp_path / "o.glb"
    huge_coordinates_project(src)
    r = subprocess.run([veldra_bin(), "export", "--project", src, "--dxf", dxf, "--gltf", glb], capture_output=True,
                       text=True, timeout=60)
    assert r.returncode == 0 and r.stderr.count("poza zakresem liczb formatu: 1") == 2, r.stderr
    data = glb.read_bytes()
    (json_len,) = struct.unpack_from("<I", data, 12)
    doc = json.loads(data[20:20 + json_len])
    (acc,) = [a for a in doc["accessors"] if "min" in a]
    assert all(math.isfinite(v) for v in acc["min"] + acc["max"]) and max(acc["max"]) < 100
    ezdxf = pytest.importorskip("ezdxf")
    drawing = ezdxf.readfile(dxf)
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
    r = subprocess.run([veldra_bin(), "bridge", "map", "--project", project], input=b"", capture_output=True,
                       timeout=60)
    assert r.returncode == 0, r.stderr
    assert not stale.exists() and live.exists() and other.exists()
