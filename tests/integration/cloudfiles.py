"""LAS files written and read by the tests, and the LiDAR index that lists them."""
import json
import re
import struct
import subprocess
from pathlib import Path

from fixture import NODE_DIR

LIDAR_INDEX = "/mapy/wss/service/PZGIK/DanePomiaroweLidarEVRF2007/WFS/Skorowidze"
LIDAR_TILES = "https://opendata.geoportal.gov.pl/lidar/"

_STD_LENGTH = {0: 20, 1: 28, 2: 26, 3: 34}
_RGB_OFFSET = {2: 20, 3: 28}


def write_las(path, fmt, points, scale=(0.01, 0.01, 0.01), offset=(0.0, 0.0, 0.0)):
    """points: tuples (X, Y, Z, intensity, classification[, R, G, B]) with raw integers.
    Returns the decoded (x, y, z, red, green, blue, class) a loader must see."""
    rl = _STD_LENGTH[fmt]
    ro = _RGB_OFFSET.get(fmt)
    recs = bytearray()
    decoded = []
    for p in points:
        X, Y, Z, inten, cls = p[:5]
        rgb = p[5:8] if len(p) >= 8 else (0, 0, 0)
        r = bytearray(rl)
        struct.pack_into("<iiiH", r, 0, X, Y, Z, inten)
        r[15] = cls
        if ro is not None:
            struct.pack_into("<HHH", r, ro, *rgb)
        recs += r
        xyz = (X * scale[0] + offset[0], Y * scale[1] + offset[1], Z * scale[2] + offset[2])
        colour = tuple(c >> 8 for c in rgb) if ro is not None else (inten >> 8,) * 3
        decoded.append(xyz + colour + (cls,))
    mins = [min(d[a] for d in decoded) if decoded else 0.0 for a in range(3)]
    maxs = [max(d[a] for d in decoded) if decoded else 0.0 for a in range(3)]
    h = bytearray(227)
    h[0:4] = b"LASF"
    h[24], h[25] = 1, 2
    h[26:26 + 11] = b"VELDRA TEST"
    struct.pack_into("<HII", h, 94, 227, 227, 0)
    h[104] = fmt
    struct.pack_into("<HI", h, 105, rl, len(points))
    struct.pack_into("<3d3d", h, 131, *scale, *offset)
    struct.pack_into("<6d", h, 179, maxs[0], mins[0], maxs[1], mins[1], maxs[2], mins[2])
    Path(path).write_bytes(bytes(h) + bytes(recs))
    return decoded, mins


def read_las(path):
    """Plain LAS decode, independent of veldra: (x, y, z, red, green, blue, class) per point."""
    b = Path(path).read_bytes()
    assert b[:4] == b"LASF"
    off_points = struct.unpack_from("<I", b, 96)[0]
    fmt = b[104] & 0x3F
    rl, count = struct.unpack_from("<HI", b, 105)
    scale = struct.unpack_from("<3d", b, 131)
    offset = struct.unpack_from("<3d", b, 155)
    mx0, mn0, mx1, mn1, mx2, mn2 = struct.unpack_from("<6d", b, 179)
    ro = {2: 20, 3: 28, 5: 28, 7: 30, 8: 30}.get(fmt)
    co = 16 if fmt >= 6 else 15
    if ro is not None and ro + 6 > rl:
        ro = None
    out = []
    for i in range(count):
        o = off_points + i * rl
        X, Y, Z = struct.unpack_from("<iii", b, o)
        if ro is not None:
            colour = (b[o + ro + 1], b[o + ro + 3], b[o + ro + 5])
        else:
            colour = (b[o + 13],) * 3
        out.append((X * scale[0] + offset[0], Y * scale[1] + offset[1], Z * scale[2] + offset[2]) + colour + (b[o + co],))
    return out, (mn0, mn1, mn2), (mx0, mx1, mx2)


def lidar_index(entries, density=12):
    """The LiDAR index answer listing entries (tile address, uklad_xy) in order."""
    members = "".join(
        f'<wfs:member><gugik:SkorowidzDanychPomiarowychLIDAR2025><gugik:godlo>N-{n}</gugik:godlo>'
        f'<gugik:char_przestrz>{density}</gugik:char_przestrz><gugik:uklad_xy>{uklad}</gugik:uklad_xy>'
        f'<gugik:url_do_pobrania>{url}</gugik:url_do_pobrania></gugik:SkorowidzDanychPomiarowychLIDAR2025>'
        '</wfs:member>' for n, (url, uklad) in enumerate(entries))
    return f'<wfs:FeatureCollection xmlns:wfs="http://www.opengis.net/wfs/2.0">{members}</wfs:FeatureCollection>'


def las_tile(path, points, epsg="EPSG:2180", fmt=1):
    """PL-1992 points (x, y, z[, class]) written in centimetres of the tile's own system, class 2
    unless given; format 3 gives each point a colour that encodes its order. Returns the bytes."""
    from test_fetch_pipeline import to_east_north
    coords = ([p[:2] for p in points] if epsg == "EPSG:2180"
              else to_east_north("EPSG:2180", epsg, [(p[1], p[0]) for p in points]))
    raw = [(round(e * 100), round(n * 100), round(p[2] * 100), 0, p[3] if len(p) > 3 else 2)
           + (((i % 256) << 8, ((i // 256) % 256) << 8, 0) if fmt == 3 else ())
           for i, (p, (e, n)) in enumerate(zip(points, coords))]
    write_las(path, fmt, raw)
    return Path(path).read_bytes()


def frame_grid(step=2.0, margin=9.3, slope=0.01):
    """PL-1992 points every `step` m over the fetch frame and `margin` around it, rising `slope` m
    per metre eastwards from 100 m; none within 5 cm of an edge, so clipping is unambiguous."""
    import test_fetch_pipeline as fp
    pts, y = [], fp.MIN_Y - margin
    while y < fp.MAX_Y + margin:
        x = fp.MIN_X - margin
        while x < fp.MAX_X + margin:
            if min(abs(x - fp.MIN_X), abs(x - fp.MAX_X), abs(y - fp.MIN_Y), abs(y - fp.MAX_Y)) > 0.05:
                pts.append((x, y, 100.0 + slope * (x - fp.MIN_X)))
            x += step
        y += step
    return pts


def in_frame(pts):
    """The points inside the fetch frame (PL-1992)."""
    import test_fetch_pipeline as fp
    return [p for p in pts if fp.MIN_X <= p[0] <= fp.MAX_X and fp.MIN_Y <= p[1] <= fp.MAX_Y]


def lazperf_points(laz, tmp):
    """Every record of a LAZ file as the laz-perf decoder (npm, run by node) gives it: the raw
    records (numpy uint8, one row each), their x, y, z in the file's units and the point format."""
    import numpy as np
    raw = Path(tmp) / "records.bin"
    subprocess.run(["node", str(NODE_DIR / "lazperf_dump.js"), str(laz), str(raw)], check=True,
                   capture_output=True, timeout=300)
    head = Path(laz).read_bytes()[:227]
    fmt, length = head[104] & 0x3F, struct.unpack_from("<H", head, 105)[0]
    scale, offset = struct.unpack_from("<3d", head, 131), struct.unpack_from("<3d", head, 155)
    rec = np.fromfile(raw, dtype=np.uint8).reshape(-1, length)
    return rec, rec[:, :12].copy().view("<i4").astype(np.float64) * scale + offset, fmt


def web_e57(path):
    """What the independent web-e57 reader (npm, run by node) makes of an E57 file: its points
    (numpy rows x y z red green blue), the scan's record count and its bounds [(min, max)] per axis."""
    import numpy as np
    r = subprocess.run(["node", str(NODE_DIR / "e57_readback.mjs"), str(path)], capture_output=True, text=True,
                       timeout=300)
    assert r.returncode == 0, "reader refused the file: " + r.stderr
    doc = json.loads(r.stdout)
    points = np.array([line.split() for line in doc["xyz"].splitlines() if line.strip()], dtype=float)
    bounds = [tuple(float(re.search(f"<{a}{k}[^>]*>([^<]*)</{a}{k}>", doc["xml"]).group(1)) for k in ("Minimum", "Maximum"))
              for a in "xyz"]
    return points, int(re.search(r'recordCount="(\d+)"', doc["xml"]).group(1)), bounds
