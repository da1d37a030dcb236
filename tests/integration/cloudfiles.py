"""LAS files written and read by the tests."""
import struct

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
    with open(path, "wb") as f:
        f.write(bytes(h) + bytes(recs))
    return decoded, mins


def read_las(path):
    """Plain LAS decode, independent of veldra: (x, y, z, red, green, blue, class) per point."""
    with open(path, "rb") as f:
        b = f.read()
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
