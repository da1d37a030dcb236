#!/usr/bin/env python3
"""Writes the offline demo's sample data (data/demo/ by default): a made-up neighbourhood on real
coordinates in Lublin, and the canned service answers that `veldra mock-services` serves for it.

    python3 scripts/make-demo.py [OUT_DIR]

Python 3 and numpy only. Deterministic: fixed seeds, no time stamps, fixed ZIP dates, so that a
rerun gives byte-identical files (with the same zlib).

Everything is drawn from one scene in local metres (u east, v north) around a whole-metre PL-1992
origin: a gentle hill, a stream valley with a pond, three streets and a bridge, a grid of parcels
and buildings with flat, gabled, hipped and shed roofs. The elevation sheets, the LiDAR tile, the
3D packages, the vector answers and every picture are views of that scene, so they agree.
"""

import io
import json
import math
import struct
import sys
import zipfile
import zlib
from pathlib import Path

import numpy as np

NAME = "Lublin - dolina Czechowki"
CENTER = (51.2555, 22.5560)          # lat, lon
MUNICIPALITY = "0663011"             # PRG code of the municipality (Lublin, a city county)
COUNTY_HOST = ("https://gis.lublin.eu", "lublin")
AREA = 240                           # half-size of the square where data exist, metres
FRAME_HALF = (150, 140)              # the suggested frame, metres east-west and north-south
ZOOMS = (14, 18)
OPENDATA = "https://opendata.geoportal.gov.pl"

# ---------------------------------------------------------------------------------------------
# Projections: transverse Mercator on GRS80 by the Krueger series (sub-millimetre in Poland).

_A, _F = 6378137.0, 1 / 298.257222101
_N = _F / (2 - _F)
_AA = _A / (1 + _N) * (1 + _N ** 2 / 4 + _N ** 4 / 64)
_ALPHA = (_N / 2 - 2 * _N ** 2 / 3 + 5 * _N ** 3 / 16 + 41 * _N ** 4 / 180,
          13 * _N ** 2 / 48 - 3 * _N ** 3 / 5 + 557 * _N ** 4 / 1440,
          61 * _N ** 3 / 240 - 103 * _N ** 4 / 140,
          49561 * _N ** 4 / 161280)
_BETA = (_N / 2 - 2 * _N ** 2 / 3 + 37 * _N ** 3 / 96 - _N ** 4 / 360,
         _N ** 2 / 48 + _N ** 3 / 15 - 437 * _N ** 4 / 1440,
         17 * _N ** 3 / 480 - 37 * _N ** 4 / 840,
         4397 * _N ** 4 / 161280)
_DELTA = (2 * _N - 2 * _N ** 2 / 3 - 2 * _N ** 3 + 116 * _N ** 4 / 45,
          7 * _N ** 2 / 3 - 8 * _N ** 3 / 5 - 227 * _N ** 4 / 45,
          56 * _N ** 3 / 15 - 136 * _N ** 4 / 35,
          4279 * _N ** 4 / 630)
PL1992 = (19.0, 0.9993, 500000.0, -5300000.0)
PL2000_8 = (24.0, 0.999923, 8500000.0, 0.0)    # EPSG:2179, the zone of the demo place


def tm_forward(lat, lon, crs):
    lon0, k0, e0, n0 = crs
    phi, lam = np.radians(lat), np.radians(np.asarray(lon) - lon0)
    c = 2 * math.sqrt(_N) / (1 + _N)
    t = np.sinh(np.arctanh(np.sin(phi)) - c * np.arctanh(c * np.sin(phi)))
    xi, eta = np.arctan2(t, np.cos(lam)), np.arctanh(np.sin(lam) / np.sqrt(1 + t * t))
    e, n = eta.copy(), xi.copy()
    for j, a in enumerate(_ALPHA, 1):
        e = e + a * np.cos(2 * j * xi) * np.sinh(2 * j * eta)
        n = n + a * np.sin(2 * j * xi) * np.cosh(2 * j * eta)
    return e0 + k0 * _AA * e, n0 + k0 * _AA * n


def tm_inverse(e, n, crs):
    lon0, k0, e0, n0 = crs
    xi, eta = (np.asarray(n) - n0) / (k0 * _AA), (np.asarray(e) - e0) / (k0 * _AA)
    xp, ep = xi.copy(), eta.copy()
    for j, b in enumerate(_BETA, 1):
        xp = xp - b * np.sin(2 * j * xi) * np.cosh(2 * j * eta)
        ep = ep - b * np.cos(2 * j * xi) * np.sinh(2 * j * eta)
    chi = np.arcsin(np.sin(xp) / np.cosh(ep))
    phi = chi.copy()
    for j, d in enumerate(_DELTA, 1):
        phi = phi + d * np.sin(2 * j * chi)
    return np.degrees(phi), lon0 + np.degrees(np.arctan2(np.sinh(ep), np.cos(xp)))


E0, N0 = (round(float(c)) for c in tm_forward(*CENTER, PL1992))   # origin of the local metres


def local_to_wgs(u, v):
    return tm_inverse(E0 + np.asarray(u, float), N0 + np.asarray(v, float), PL1992)


def wgs_to_local(lat, lon):
    e, n = tm_forward(lat, lon, PL1992)
    return e - E0, n - N0


# ---------------------------------------------------------------------------------------------
# The scene.

def stream_v(u):
    return -25 + 18 * np.sin(np.asarray(u) / 70 + 0.6)


POND = (-100.0, -70.0, 24.0, 13.0)           # centre u, v and half-axes
STREAM_HALF_WIDTH = 3.0


def base_ground(u, v):
    """A slope rising northwards across the stream and a hill in the north-west."""
    return 182 + 0.01 * (v + 25) + 6 * np.exp(-((u + 60) ** 2 + (v - 170) ** 2) / (2 * 80 ** 2))


def pond_inside(u, v):
    pu, pv, a, b = POND
    return ((u - pu) / a) ** 2 + ((v - pv) / b) ** 2 <= 1


# The stream and the pond beside it share one level: the valley floor runs along the slope's contour.
WATER_LEVEL = 179.15   # off the contour levels: a level on the water would fray into pieces


def ground(u, v):
    """NMT: the slope cut by the stream's valley; the water's surface where there is water."""
    u, v = np.asarray(u, float), np.asarray(v, float)
    d = np.abs(v - stream_v(u))
    floor = WATER_LEVEL - 0.4
    z = floor + (base_ground(u, v) - floor) * (1 - np.exp(-(d / 12) ** 2))
    pu, pv, a, b = POND
    r = np.sqrt(((u - pu) / a) ** 2 + ((v - pv) / b) ** 2)
    z = np.minimum(z, WATER_LEVEL + 0.3 + np.maximum(r - 1, 0) * 4)
    return np.where((d <= STREAM_HALF_WIDTH) | (r <= 1), WATER_LEVEL, z)


def stream_water(u, v):
    return np.abs(v - stream_v(u)) <= STREAM_HALF_WIDTH


# Streets (OpenStreetMap ways): name, kind, width, points; the north-south street crosses the
# stream on a bridge.
BRIDGE_V = (float(stream_v(0)) - 16, float(stream_v(0)) + 16)
STREETS = [
    ("Mlynska", "secondary", 8.0, [(-6, -AREA), (0, BRIDGE_V[0])]),
    ("Most Mlynski", "secondary", 8.0, [(0, BRIDGE_V[0]), (0, BRIDGE_V[1])]),
    ("Mlynska", "secondary", 8.0, [(0, BRIDGE_V[1]), (4, 60), (6, AREA)]),
    ("Ogrodowa", "residential", 6.0, [(-AREA, 94), (0, 96), (AREA, 99)]),
    ("Lakowa", "residential", 6.0, [(-AREA, -121), (0, -118), (AREA, -114)]),
]
BRIDGE_DECK = round(max(float(ground(0, BRIDGE_V[0])), float(ground(0, BRIDGE_V[1]))) + 0.4, 2)

# Parcels: columns 30 m wide on both sides of Mlynska, rows between the streets and the valley.
COLUMNS = [(-125 + 30 * i, -95 + 30 * i) for i in range(4)] + [(5 + 30 * i, 35 + 30 * i) for i in range(4)]
ROWS = [(141, 181), (101, 141), (53, 91), (15, 53), (-110, -68), (-170, -126)]
PARCELS = [[(a, r0), (b, r0), (b, r1), (a, r1)] for r0, r1 in ROWS for a, b in COLUMNS]

# Buildings: (parcel index, roof, width along u, depth along v, eave, ridge above ground).
ROOFS = ["flat", "gabled", "hipped", "shed"]
BUILDING_SLOTS = [(8, 0), (10, 1), (13, 2), (15, 3), (16, 1), (19, 0), (21, 2), (22, 3),
                  (25, 1), (27, 0), (29, 2), (30, 1), (34, 3), (36, 2), (39, 0), (41, 1)]


def make_buildings():
    rng = np.random.RandomState(7)
    out = []
    for n, (pi, kind) in enumerate(BUILDING_SLOTS):
        (a, r0), (b, _), _, (_, r1) = PARCELS[pi]
        w, d = 10 + 2 * rng.randint(0, 4), 8 + 2 * rng.randint(0, 3)
        cu, cv = (a + b) / 2, (r0 + r1) / 2 + rng.randint(-3, 4)
        foot = [(cu - w / 2, cv - d / 2), (cu + w / 2, cv - d / 2), (cu + w / 2, cv + d / 2), (cu - w / 2, cv + d / 2)]
        g = round(min(float(ground(x, y)) for x, y in foot), 2)
        roof = ROOFS[kind]
        eave = 6.0 + 3 * (roof == "flat") + rng.randint(0, 3)
        ridge = eave + (0 if roof == "flat" else 3.0 + rng.randint(0, 2))
        out.append(dict(id=f"PL.PZGiK.DEMO.BDOT10k.BUBD.{n + 1:03d}", roof=roof, cu=cu, cv=cv, w=w, d=d, g=g,
                        eave=g + eave, ridge=g + ridge, foot=foot, parcel=pi))
    return out


BUILDINGS = make_buildings()
# Two outbuildings are newer than the LOD2 package: there the LOD1 blocks stand in.
LOD2_BUILDINGS = [b for i, b in enumerate(BUILDINGS) if i not in (7, 12)]


def roof_height(b, u, v):
    """Height of building b's roof above (u, v) (inside the outline)."""
    a, c = np.asarray(u) - b["cu"], np.asarray(v) - b["cv"]
    hw, hd, rise = b["w"] / 2, b["d"] / 2, b["ridge"] - b["eave"]
    if b["roof"] == "flat":
        return np.full(np.shape(a), b["ridge"])
    if b["roof"] == "gabled":
        return b["eave"] + rise * (1 - np.abs(c) / hd)
    if b["roof"] == "hipped":
        return b["eave"] + rise * np.clip(np.minimum(hd - np.abs(c), hw - np.abs(a)) / hd, 0, 1)
    return b["eave"] + rise * (c + hd) / (2 * hd)


def seg_dist(u, v, pts, reach=np.inf):
    """Distance from points to a polyline; segments farther than reach from all points are skipped."""
    u, v = np.asarray(u, float), np.asarray(v, float)
    best = np.full(np.broadcast(u, v).shape, np.inf)
    lo_u, hi_u, lo_v, hi_v = u.min(), u.max(), v.min(), v.max()
    for (x1, y1), (x2, y2) in zip(pts, pts[1:]):
        if min(x1, x2) > hi_u + reach or max(x1, x2) < lo_u - reach or min(y1, y2) > hi_v + reach \
                or max(y1, y2) < lo_v - reach:
            continue
        dx, dy = x2 - x1, y2 - y1
        t = np.clip(((u - x1) * dx + (v - y1) * dy) / (dx * dx + dy * dy), 0, 1)
        best = np.minimum(best, np.hypot(u - x1 - t * dx, v - y1 - t * dy))
    return best


def building_at(u, v):
    """Index of the building over each point, -1 for none."""
    idx = np.full(np.broadcast(np.asarray(u), np.asarray(v)).shape, -1)
    for i, b in enumerate(BUILDINGS):
        (x0, y0), (x1, _), _, (_, y1) = b["foot"]
        idx = np.where((u >= x0) & (u <= x1) & (v >= y0) & (v <= y1), i, idx)
    return idx


def on_road(u, v):
    m = np.zeros(np.broadcast(np.asarray(u), np.asarray(v)).shape, bool)
    for _, _, width, pts in STREETS:
        m |= seg_dist(u, v, pts) <= width / 2
    return m


def on_bridge(u, v):
    return seg_dist(u, v, STREETS[1][3]) <= STREETS[1][2] / 2


def surface(u, v):
    """NMPT: the ground with the buildings' roofs and the bridge deck on it."""
    u, v = np.asarray(u, float), np.asarray(v, float)
    z = ground(u, v)
    idx = building_at(u, v)
    for i, b in enumerate(BUILDINGS):
        sel = idx == i
        if sel.any():
            z = np.where(sel, roof_height(b, u, v), z)
    return np.where(on_bridge(u, v), np.maximum(z, BRIDGE_DECK), z)


# ---------------------------------------------------------------------------------------------
# Pictures.

def png(rgb):
    """An 8-bit RGB or RGBA PNG of an (h, w, 3|4) uint8 array."""
    h, w, c = rgb.shape
    raw = b"".join(b"\0" + rgb[y].tobytes() for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6 if c == 4 else 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def parcel_edge_dist(u, v, reach):
    best = np.full(np.shape(u), np.inf)
    for p in PARCELS:
        best = np.minimum(best, seg_dist(u, v, p + p[:1], reach))
    return best


def colour(mask_rgb_pairs, shape, background):
    img = np.empty(shape + (len(background),), np.uint8)
    img[...] = background
    for mask, rgb in mask_rgb_pairs:
        img[mask] = rgb
    return img


def hillshade(u, v):
    dzdu = (ground(u + 1, v) - ground(u - 1, v)) / 2
    dzdv = (ground(u, v + 1) - ground(u, v - 1)) / 2
    return np.clip(0.85 + 2.5 * (-dzdu + dzdv) / np.sqrt(1 + dzdu ** 2 + dzdv ** 2), 0.55, 1.15)


def ortho_rgb(u, v):
    """A drawn aerial photograph: fields and gardens shaded by the terrain, roofs, streets, water."""
    shade = hillshade(u, v)
    field = np.where((np.floor((u + 1000) / 30) + np.floor((v + 1000) / 40)) % 2 == 0, 0, 1)
    base = np.stack([96 + 20 * field, 128 + 10 * field, 70 + 0 * field], -1) * shade[..., None]
    img = np.clip(base, 0, 255).astype(np.uint8)
    valley = np.abs(v - stream_v(u)) < 12
    img[valley] = (np.array([70, 110, 60]) * shade[valley][:, None]).astype(np.uint8)
    img[on_road(u, v)] = (150, 148, 142)
    idx = building_at(u, v)
    for i, b in enumerate(BUILDINGS):
        sel = idx == i
        if not sel.any():
            continue
        if b["roof"] == "flat":
            img[sel] = (120, 120, 125)
        else:   # the two slopes of a pitched roof in two tones
            side = (v[sel] - b["cv"]) >= 0
            img[sel] = np.where(side[:, None], [178, 74, 52], [140, 56, 40])
    water = stream_water(u, v) | pond_inside(u, v)
    img[water] = (52, 84, 96)
    return img


def base_map_rgb(u, v, px):
    """The county base map: parcel lines, building outlines, street edges, water lines on white."""
    idx = building_at(u, v)
    edges = parcel_edge_dist(u, v, px) <= px * 0.8
    road = on_road(u, v)
    road_edge = road & ~on_road(u + 2 * px, v) | road & ~on_road(u - 2 * px, v) | road & ~on_road(u, v + 2 * px) \
        | road & ~on_road(u, v - 2 * px)
    bld = idx >= 0
    bld_edge = bld & ((building_at(u + 2 * px, v) < 0) | (building_at(u - 2 * px, v) < 0) |
                      (building_at(u, v + 2 * px) < 0) | (building_at(u, v - 2 * px) < 0))
    water = stream_water(u, v) | pond_inside(u, v)
    return colour([(bld, (250, 215, 215)), (water, (200, 225, 250)), (edges, (40, 40, 40)),
                   (road_edge, (120, 60, 20)), (bld_edge, (200, 0, 80))], np.shape(u), (255, 255, 255))


UTILITIES = [   # colour, offset from the street centre line, which streets
    ((0, 90, 230, 255), 3.0, (0, 2, 3, 4)),       # water
    ((210, 170, 0, 255), -3.0, (0, 2, 3, 4)),     # gas
    ((150, 80, 30, 255), 0.0, (0, 2, 3, 4)),      # sewage
    ((220, 0, 0, 255), 5.0, (3, 4)),              # power
]


def utilities_rgba(u, v, px):
    layers = []
    for rgb, off, which in UTILITIES:
        m = np.zeros(np.shape(u), bool)
        for s in which:
            pts = STREETS[s][3]
            horizontal = abs(pts[-1][0] - pts[0][0]) > abs(pts[-1][1] - pts[0][1])
            moved = [(x, y + off) if horizontal else (x + off, y) for x, y in pts]
            m |= seg_dist(u, v, moved) <= px * 1.5
        layers.append((m, rgb))
    # House connections of water from the street to each building.
    conn = np.zeros(np.shape(u), bool)
    for b in BUILDINGS:
        street_v = 96 if b["cv"] > 60 else (-118 if b["cv"] < -60 else None)
        if street_v is None:
            wall = b["cu"] + (b["w"] / 2 if b["cu"] < 0 else -b["w"] / 2)   # the wall facing Mlynska
            conn |= seg_dist(u, v, [(wall, b["cv"]), (3, b["cv"])]) <= px
        else:
            conn |= seg_dist(u, v, [(b["cu"], b["cv"]), (b["cu"], street_v + 3)]) <= px
    layers.append((conn, (0, 90, 230, 255)))
    return colour(layers, np.shape(u), (0, 0, 0, 0))


# General plan zones: symbol, name, polygon (local metres).
POG_ZONES = [
    ("SJ", "strefa zabudowy mieszkaniowej jednorodzinnej", [(-AREA, 10), (AREA, 10), (AREA, AREA), (-AREA, AREA)]),
    ("SZ", "strefa zieleni i rekreacji", [(-AREA, -65), (AREA, -65), (AREA, 10), (-AREA, 10)]),
    ("SW", "strefa wielofunkcyjna z zabudowa mieszkaniowa", [(-AREA, -AREA), (0, -AREA), (0, -65), (-AREA, -65)]),
    ("SU", "strefa uslugowa", [(0, -AREA), (AREA, -AREA), (AREA, -65), (0, -65)]),
]
PLAN_COLOURS = {"MN": (255, 240, 120, 200), "ZP": (120, 200, 110, 200), "KD": (200, 200, 200, 200),
                "U": (235, 120, 120, 200)}


def plan_rgba(u, v, px):
    """A local plan drawing: development areas, green along the stream, streets, line boundaries."""
    shape = np.shape(u)
    green = (np.abs(v - stream_v(u)) < 30) | pond_inside(u, v)
    service = (v < -65) & (u > 0)
    layers = [(np.ones(shape, bool), PLAN_COLOURS["MN"]), (service, PLAN_COLOURS["U"]), (green, PLAN_COLOURS["ZP"]),
              (on_road(u, v), PLAN_COLOURS["KD"])]
    line = np.zeros(shape, bool)
    # The street lines of the plan run through: Mlynska is one line over its three ways.
    mlynska = STREETS[0][3] + STREETS[1][3][1:] + STREETS[2][3][1:]
    for w, pts in [(STREETS[0][2], mlynska)] + [(s[2], s[3]) for s in STREETS[3:]]:
        line |= np.abs(seg_dist(u, v, pts) - w / 2 - 2) <= px
    line |= np.abs(np.abs(v - stream_v(u)) - 30) <= px
    layers.append((line, (0, 0, 0, 255)))
    return colour(layers, shape, (0, 0, 0, 0))


TILE_BACKGROUND = (236, 233, 226)


def tile_rgb(u, v, px):
    """The demo's base map tiles: a plain street map."""
    inside = (np.abs(u) <= AREA) & (np.abs(v) <= AREA)
    shape = np.shape(u)
    park = (np.abs(v - stream_v(u)) < 22) & inside
    water = (stream_water(u, v) | pond_inside(u, v)) & inside
    road = on_road(u, v) & inside
    casing = inside & ~road & (np.minimum.reduce([seg_dist(u, v, s[3]) - s[2] / 2 for s in STREETS]) <= max(px, 0.8))
    bld = (building_at(u, v) >= 0) & inside
    edges = (parcel_edge_dist(u, v, px) <= px * 0.5) & inside
    return colour([(inside, (242, 239, 233)), (park, (205, 235, 190)), (edges, (215, 205, 200)), (water, (170, 210, 240)),
                   (casing, (190, 180, 165)), (road, (255, 255, 255)), (bld, (217, 208, 201))], shape, TILE_BACKGROUND)


def raster_grid(e_min, n_min, e_max, n_max, width, height, crs=PL1992):
    """Local (u, v) of the pixel centres of a north-up picture of a box in crs."""
    e = e_min + (np.arange(width) + 0.5) * (e_max - e_min) / width
    n = n_max - (np.arange(height) + 0.5) * (n_max - n_min) / height
    ee, nn = np.meshgrid(e, n)
    if crs is PL1992:
        return ee - E0, nn - N0
    lat, lon = tm_inverse(ee, nn, crs)
    return wgs_to_local(lat, lon)


# ---------------------------------------------------------------------------------------------
# Service answers.

WFS_NS = ('xmlns:wfs="http://www.opengis.net/wfs/2.0" xmlns:gml="http://www.opengis.net/gml/3.2" '
          'xmlns:ms="http://mapserver.gis.umn.edu/mapserver" xmlns:gugik="http://www.gugik.gov.pl"')


def pos_list_ne(ring):
    """posList of a ring in EPSG::2180 axis order (northing first), closed."""
    return " ".join(f"{N0 + v:.2f} {E0 + u:.2f}" for u, v in ring + ring[:1])


def gml_polygon(ring):
    return ('<gml:Polygon srsName="urn:ogc:def:crs:EPSG::2180"><gml:exterior><gml:LinearRing><gml:posList>'
            f'{pos_list_ne(ring)}</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>')


def collection(members):
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<wfs:FeatureCollection {WFS_NS} numberMatched="{len(members)}" '
            f'numberReturned="{len(members)}">\n' + "".join(f"<wfs:member>{m}</wfs:member>\n" for m in members)
            + "</wfs:FeatureCollection>\n")


def feature(tag, fid, fields, geometry):
    props = "".join(f"<ms:{k}>{v}</ms:{k}>" for k, v in fields)
    return f'<{tag} gml:id="{fid}">{props}<ms:geom>{geometry}</ms:geom></{tag}>'


def prg_answer():
    ring = [(-3000, -3000), (3000, -3000), (3000, 3000), (-3000, 3000)]
    return collection([feature("ms:A03_Granice_gmin", "A03.1", [("JPT_KOD_JE", MUNICIPALITY), ("JPT_NAZWA_", "Lublin")],
                               gml_polygon(ring))])


def parcels_answer():
    members = []
    for i, ring in enumerate(PARCELS):
        number = f"{100 + i}"
        members.append(feature("ms:dzialki", f"dzialki.{MUNICIPALITY[:6]}_1.0012.{number}",
                               [("ID_DZIALKI", f"{MUNICIPALITY[:6]}_1.0012.{number}"), ("NUMER_DZIALKI", number),
                                ("NUMER_OBREBU", "0012"), ("NAZWA_OBREBU", "Czechow")], gml_polygon(ring)))
    return collection(members)


def buildings_answer():
    kinds = {"flat": "budynek handlowo-uslugowy", "gabled": "budynek mieszkalny jednorodzinny",
             "hipped": "budynek mieszkalny jednorodzinny", "shed": "budynek gospodarczy"}
    members = [feature("ms:budynki", f"budynki.{b['id']}",
                       [("ID_BUDYNKU", b["id"]), ("RODZAJ", kinds[b["roof"]]),
                        ("KONDYGNACJE_NADZIEMNE", 1 + (b["ridge"] - b["g"] > 9))], gml_polygon(b["foot"]))
               for b in BUILDINGS]
    return collection(members)


def wfs_caps():
    names = "".join(f"<FeatureType><Name>{n}</Name><Title>{t}</Title><DefaultCRS>urn:ogc:def:crs:EPSG::2180</DefaultCRS>"
                    "</FeatureType>" for n, t in (("ms:dzialki", "Dzialki ewidencyjne"), ("ms:budynki", "Budynki"),
                                                  ("ms:obreby", "Obreby ewidencyjne")))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<wfs:WFS_Capabilities version="2.0.0" '
            'xmlns:wfs="http://www.opengis.net/wfs/2.0"><FeatureTypeList>' + names + "</FeatureTypeList>"
            "</wfs:WFS_Capabilities>\n")


def wms_caps(version, layers, title):
    """WMS capabilities advertising PL-1992 only, so that every picture is asked in the scene's system."""
    crs = "CRS" if version == "1.3.0" else "SRS"
    root = "WMS_Capabilities" if version == "1.3.0" else "WMT_MS_Capabilities"
    body = "".join(f"<Layer queryable=\"1\"><Name>{n}</Name><Title>{t}</Title></Layer>" for n, t in layers)
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<{root} version="{version}"><Service><Name>WMS</Name>'
            f"<Title>{title}</Title></Service><Capability><Request><GetMap><Format>image/png</Format></GetMap></Request>"
            f"<Layer><Title>{title}</Title><{crs}>EPSG:2180</{crs}>{body}</Layer></Capability></{root}>\n")


def index_answer(kind, records):
    members = []
    for godlo, url, extra in records:
        fields = "".join(f"<gugik:{k}>{v}</gugik:{k}>" for k, v in extra)
        members.append(f"<gugik:{kind}><gugik:godlo>{godlo}</gugik:godlo>{fields}"
                       f"<gugik:url_do_pobrania>{url}</gugik:url_do_pobrania></gugik:{kind}>")
    return collection(members)


def asc_sheet(f, cell=2.0):
    n = int(2 * AREA / cell)
    us = -AREA + (np.arange(n) + 0.5) * cell
    vs = AREA - (np.arange(n) + 0.5) * cell
    uu, vv = np.meshgrid(us, vs)
    z = f(uu, vv)
    head = (f"ncols {n}\nnrows {n}\nxllcorner {E0 - AREA}\nyllcorner {N0 - AREA}\ncellsize {cell:g}\n"
            "NODATA_value -9999\n")
    return head + "\n".join(" ".join(f"{x:.2f}" for x in row) for row in z) + "\n"


def registry_acts():
    return json.dumps({"publishedActs": [{
        "publishedActId": "DEMO-066301-POG", "title": "Plan ogolny gminy Lublin (dane pokazowe)",
        "planType": "MUNICIPAL_GENERAL_PLAN", "spatialPlanningActStatus": "obowiazujacy",
        "publishDate": "2025-11-20", "tercCode": MUNICIPALITY[:6]}]}, indent=1) + "\n"


def pog_answer():
    members = []
    for i, (symbol, name, ring) in enumerate(POG_ZONES):
        members.append(f'<ms:StrefaPlanistyczna gml:id="POG.{i + 1}"><ms:oznaczenie>{i + 1}{symbol}</ms:oznaczenie>'
                       f"<ms:symbol>{symbol}</ms:symbol><ms:nazwa>{name}</ms:nazwa>"
                       f"<ms:geometria>{gml_polygon(ring)}</ms:geometria></ms:StrefaPlanistyczna>")
    return collection(members)


# ---------------------------------------------------------------------------------------------
# 3D packages.

def faces_lod2(b):
    """The building's closed boundary as (kind, ring) with rings counter-clockwise seen from outside."""
    x0, y0 = b["cu"] - b["w"] / 2, b["cv"] - b["d"] / 2
    x1, y1 = x0 + b["w"], y0 + b["d"]
    g, e, r = b["g"], b["eave"], b["ridge"]
    mv = b["cv"]
    roof = b["roof"]
    if roof == "flat":
        tops = [[(x0, y0, r), (x1, y0, r), (x1, y1, r), (x0, y1, r)]]
        walls = [[(x0, y0, g), (x1, y0, g), (x1, y0, r), (x0, y0, r)], [(x1, y0, g), (x1, y1, g), (x1, y1, r), (x1, y0, r)],
                 [(x1, y1, g), (x0, y1, g), (x0, y1, r), (x1, y1, r)], [(x0, y1, g), (x0, y0, g), (x0, y0, r), (x0, y1, r)]]
    elif roof == "gabled":
        tops = [[(x0, y0, e), (x1, y0, e), (x1, mv, r), (x0, mv, r)], [(x1, y1, e), (x0, y1, e), (x0, mv, r), (x1, mv, r)]]
        walls = [[(x0, y0, g), (x1, y0, g), (x1, y0, e), (x0, y0, e)], [(x1, y1, g), (x0, y1, g), (x0, y1, e), (x1, y1, e)],
                 [(x1, y0, g), (x1, y1, g), (x1, y1, e), (x1, mv, r), (x1, y0, e)],
                 [(x0, y1, g), (x0, y0, g), (x0, y0, e), (x0, mv, r), (x0, y1, e)]]
    elif roof == "hipped":
        h = b["d"] / 2
        a0, a1 = x0 + h, x1 - h
        tops = [[(x0, y0, e), (x1, y0, e), (a1, mv, r), (a0, mv, r)], [(x1, y1, e), (x0, y1, e), (a0, mv, r), (a1, mv, r)],
                [(x1, y0, e), (x1, y1, e), (a1, mv, r)], [(x0, y1, e), (x0, y0, e), (a0, mv, r)]]
        walls = [[(x0, y0, g), (x1, y0, g), (x1, y0, e), (x0, y0, e)], [(x1, y0, g), (x1, y1, g), (x1, y1, e), (x1, y0, e)],
                 [(x1, y1, g), (x0, y1, g), (x0, y1, e), (x1, y1, e)], [(x0, y1, g), (x0, y0, g), (x0, y0, e), (x0, y1, e)]]
    else:   # shed: low at the south edge, high at the north edge
        tops = [[(x0, y0, e), (x1, y0, e), (x1, y1, r), (x0, y1, r)]]
        walls = [[(x0, y0, g), (x1, y0, g), (x1, y0, e), (x0, y0, e)], [(x1, y0, g), (x1, y1, g), (x1, y1, r), (x1, y0, e)],
                 [(x1, y1, g), (x0, y1, g), (x0, y1, r), (x1, y1, r)], [(x0, y1, g), (x0, y0, g), (x0, y0, e), (x0, y1, r)]]
    floor = [(x0, y0, g), (x0, y1, g), (x1, y1, g), (x1, y0, g)]
    return [("GroundSurface", floor)] + [("WallSurface", w) for w in walls] + [("RoofSurface", t) for t in tops]


def citygml_ring(pts, gid):
    coords = " ".join(f"{E0 + x:.2f} {N0 + y:.2f} {z:.2f}" for x, y, z in pts + pts[:1])
    return (f'<gml:Polygon gml:id="{gid}"><gml:exterior><gml:LinearRing><gml:posList srsDimension="3">{coords}'
            "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon>")


ROOF_TYPE_CODES = {"flat": 1000, "shed": 1010, "gabled": 1030, "hipped": 1040}


def citygml(buildings, lod):
    xs = [E0 + x for b in buildings for x, _ in b["foot"]]
    ys = [N0 + y for b in buildings for _, y in b["foot"]]
    zs = [b["g"] for b in buildings] + [b["ridge"] for b in buildings]
    members = []
    for b in buildings:
        bid = b["id"]
        head = (f'<bldg:Building gml:id="{bid}"><gen:stringAttribute name="gml_id"><gen:value>{bid}</gen:value>'
                f"</gen:stringAttribute><bldg:function>1110</bldg:function>")
        if lod == 1:
            g, top = b["g"], b["ridge"] if b["roof"] == "flat" else (b["eave"] + b["ridge"]) / 2
            (x0, y0), (x1, _), _, (_, y1) = b["foot"]
            faces = [[(x0, y0, g), (x0, y1, g), (x1, y1, g), (x1, y0, g)], [(x0, y0, top), (x1, y0, top), (x1, y1, top), (x0, y1, top)],
                     [(x0, y0, g), (x1, y0, g), (x1, y0, top), (x0, y0, top)], [(x1, y0, g), (x1, y1, g), (x1, y1, top), (x1, y0, top)],
                     [(x1, y1, g), (x0, y1, g), (x0, y1, top), (x1, y1, top)], [(x0, y1, g), (x0, y0, g), (x0, y0, top), (x0, y1, top)]]
            polys = "".join(f"<gml:surfaceMember>{citygml_ring(f, f'{bid}_p{i}')}</gml:surfaceMember>"
                            for i, f in enumerate(faces))
            members.append(f"{head}<bldg:measuredHeight uom=\"m\">{top - g:.2f}</bldg:measuredHeight>"
                           f"<bldg:lod1Solid><gml:Solid><gml:exterior><gml:CompositeSurface>{polys}</gml:CompositeSurface>"
                           "</gml:exterior></gml:Solid></bldg:lod1Solid></bldg:Building>")
        else:
            surfaces = "".join(
                f'<bldg:boundedBy><bldg:{kind} gml:id="{bid}_s{i}"><bldg:lod2MultiSurface><gml:MultiSurface>'
                f"<gml:surfaceMember>{citygml_ring(ring, f'{bid}_p{i}')}</gml:surfaceMember></gml:MultiSurface>"
                f"</bldg:lod2MultiSurface></bldg:{kind}></bldg:boundedBy>"
                for i, (kind, ring) in enumerate(faces_lod2(b)))
            members.append(f"{head}<bldg:roofType>{ROOF_TYPE_CODES[b['roof']]}</bldg:roofType>"
                           f"<bldg:measuredHeight uom=\"m\">{b['ridge'] - b['g']:.2f}</bldg:measuredHeight>"
                           f"{surfaces}</bldg:Building>")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<core:CityModel xmlns:core="http://www.opengis.net/citygml/2.0" '
            'xmlns:bldg="http://www.opengis.net/citygml/building/2.0" xmlns:gen="http://www.opengis.net/citygml/generics/2.0" '
            'xmlns:gml="http://www.opengis.net/gml"><gml:boundedBy><gml:Envelope srsName="EPSG:2180" srsDimension="3">'
            f"<gml:lowerCorner>{min(xs):.2f} {min(ys):.2f} {min(zs):.2f}</gml:lowerCorner>"
            f"<gml:upperCorner>{max(xs):.2f} {max(ys):.2f} {max(zs):.2f}</gml:upperCorner></gml:Envelope></gml:boundedBy>\n"
            + "".join(f"<core:cityObjectMember>{m}</core:cityObjectMember>\n" for m in members) + "</core:CityModel>\n")


def zip_of(name, text):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        info = zipfile.ZipInfo(name, date_time=(2024, 6, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, text, compresslevel=9)
    return buf.getvalue()


# ---------------------------------------------------------------------------------------------
# LiDAR tile: LAS 1.2, point format 2 (colour), PL-1992, centimetre coordinates.

CLOUD_HALF = (200, 200)   # beyond the suggested frame, so that a frame moved a little still has points


def cloud_points():
    rng = np.random.RandomState(11)
    pts = []

    def grid(x0, x1, y0, y1, step):
        us = np.arange(x0 + step / 2, x1, step)
        vs = np.arange(y0 + step / 2, y1, step)
        uu, vv = np.meshgrid(us, vs)
        jit = rng.uniform(-0.3, 0.3, (2,) + uu.shape) * step
        return (uu + jit[0]).ravel(), (vv + jit[1]).ravel()

    hu, hv = CLOUD_HALF
    u, v = grid(-hu, hu, -hv, hv, 2.5)
    bld = building_at(u, v) >= 0
    water = stream_water(u, v) | pond_inside(u, v)
    deck = on_bridge(u, v)
    keep = ~bld & ~deck & ~water
    z = ground(u, v)   # no noise: on a gentle slope it would fray the contours into loops
    pts.append((u[keep], v[keep], z[keep], np.full(u.shape, 2)[keep]))
    # Water answers more densely than the 1 m grid's two points per cell need.
    wu, wv = grid(-hu, hu, -hv, hv, 0.6)
    wet = (stream_water(wu, wv) | pond_inside(wu, wv)) & ~on_bridge(wu, wv)
    pts.append((wu[wet], wv[wet], np.full(int(wet.sum()), WATER_LEVEL), np.full(int(wet.sum()), 9)))
    # Roofs, denser, with a little noise.
    for b in BUILDINGS:
        (x0, y0), (x1, _), _, (_, y1) = b["foot"]
        ru, rv = grid(x0 + 0.2, x1 - 0.2, y0 + 0.2, y1 - 0.2, 0.7)
        pts.append((ru, rv, roof_height(b, ru, rv) + rng.normal(0, 0.02, ru.shape), np.full(ru.shape, 6)))
    # The bridge deck (class 17) and a few trees along the stream (class 5).
    du, dv = grid(-4, 4, BRIDGE_V[0], BRIDGE_V[1], 1.0)
    pts.append((du, dv, np.full(du.shape, BRIDGE_DECK), np.full(du.shape, 17)))
    for tu in np.arange(-182, 190, 28.0):
        tv = float(stream_v(tu)) + (9 if int(tu) % 56 else -9)
        cu, cv = rng.normal(tu, 2.0, 60), rng.normal(tv, 2.0, 60)
        top = float(ground(tu, tv)) + 9 + rng.uniform(0, 3)
        cz = top - 0.4 * ((cu - tu) ** 2 + (cv - tv) ** 2) ** 0.5 * 1.5
        pts.append((cu, cv, cz, np.full(cu.shape, 5)))
    u = np.concatenate([p[0] for p in pts])
    v = np.concatenate([p[1] for p in pts])
    z = np.concatenate([p[2] for p in pts])
    c = np.concatenate([p[3] for p in pts]).astype(np.uint8)
    return u, v, z, c


def las_tile():
    u, v, z, cls = cloud_points()
    rgb = ortho_rgb(u, v).astype(np.uint16) * 256
    rgb[cls == 5] = (60 * 256, 100 * 256, 50 * 256)
    X = np.round((E0 + u) * 100).astype(np.int64)
    Y = np.round((N0 + v) * 100).astype(np.int64)
    Z = np.round(z * 100).astype(np.int64)
    rec = np.zeros(len(X), dtype=[("x", "<i4"), ("y", "<i4"), ("z", "<i4"), ("i", "<u2"), ("f", "u1"), ("c", "u1"),
                                  ("a", "i1"), ("u", "u1"), ("p", "<u2"), ("r", "<u2"), ("g", "<u2"), ("b", "<u2")])
    rec["x"], rec["y"], rec["z"], rec["c"] = X, Y, Z, cls
    rec["i"], rec["f"] = 400, 0b00001001     # one return of one
    rec["r"], rec["g"], rec["b"] = rgb[:, 0], rgb[:, 1], rgb[:, 2]
    h = bytearray(227)
    h[0:4] = b"LASF"
    h[24], h[25] = 1, 2
    h[26:58] = b"VELDRA DEMO".ljust(32, b"\0")
    h[58:90] = b"make-demo.py".ljust(32, b"\0")
    struct.pack_into("<HH", h, 90, 1, 2024)
    struct.pack_into("<HII", h, 94, 227, 227, 0)
    h[104] = 2
    struct.pack_into("<HI", h, 105, 26, len(X))
    counts = [int((rec["f"] & 7 == r).sum()) for r in range(1, 6)]
    struct.pack_into("<5I", h, 111, *counts)
    struct.pack_into("<3d3d", h, 131, 0.01, 0.01, 0.01, 0.0, 0.0, 0.0)
    struct.pack_into("<6d", h, 179, X.max() / 100, X.min() / 100, Y.max() / 100, Y.min() / 100, Z.max() / 100,
                     Z.min() / 100)
    return bytes(h) + rec.tobytes()


# ---------------------------------------------------------------------------------------------
# Geocoders and OpenStreetMap.

def photon_answer():
    feats = []
    for label, (u, v), street in ((NAME, (0, 0), None), ("Mlynska", (0, 60), "Mlynska"), ("Ogrodowa", (-60, 96), "Ogrodowa")):
        lat, lon = local_to_wgs(u, v)
        props = {"name": label, "city": "Lublin", "country": "Polska"}
        if street:
            props = {"street": street, "housenumber": "12" if street == "Mlynska" else "5", "city": "Lublin"}
        feats.append({"type": "Feature", "geometry": {"type": "Point", "coordinates": [round(float(lon), 7),
                                                                                      round(float(lat), 7)]},
                      "properties": props})
    return json.dumps({"type": "FeatureCollection", "features": feats}, indent=1) + "\n"


def nominatim_answer():
    lat, lon = local_to_wgs(0, 0)
    return json.dumps([{"place_id": 1, "lat": f"{float(lat):.7f}", "lon": f"{float(lon):.7f}",
                        "display_name": f"{NAME}, Lublin, wojewodztwo lubelskie, Polska", "type": "neighbourhood"}],
                      indent=1) + "\n"


def overpass_answer():
    elements = []
    for i, (name, kind, width, pts) in enumerate(STREETS):
        dense = []
        for (x1, y1), (x2, y2) in zip(pts, pts[1:]):
            k = max(1, int(math.hypot(x2 - x1, y2 - y1) // 40))
            dense += [(x1 + (x2 - x1) * t / k, y1 + (y2 - y1) * t / k) for t in range(k)]
        dense.append(pts[-1])
        lat, lon = local_to_wgs([p[0] for p in dense], [p[1] for p in dense])
        tags = {"highway": kind, "name": name, "width": f"{width:g}"}
        if name.startswith("Most"):
            tags.update({"bridge": "yes", "layer": "1", "name": "Mlynska"})
        elements.append({"type": "way", "id": 1000 + i, "tags": tags,
                         "geometry": [{"lat": round(float(a), 7), "lon": round(float(b), 7)} for a, b in zip(lat, lon)]})
    return json.dumps({"version": 0.6, "generator": "make-demo.py", "elements": elements}, indent=1) + "\n"


# ---------------------------------------------------------------------------------------------
# Assembly.

def frame_wgs():
    """[W, S, E, N] of the suggested frame: inside the local box, so the frame stays where data are."""
    fu, fv = FRAME_HALF
    lat, lon = local_to_wgs([-fu, fu, fu, -fu], [-fv, -fv, fv, fv])
    return [round(float(max(lon[0], lon[3])), 6), round(float(max(lat[0], lat[1])), 6),
            round(float(min(lon[1], lon[2])), 6), round(float(min(lat[2], lat[3])), 6)]


def frame_pl1992(bbox, crs=PL1992):
    """The frame as the program makes it: the extremes of the projected corners (here in crs)."""
    w, s, e, n = bbox
    lats, lons = [s, n, n, s], [w, e, w, e]
    x, y = tm_forward(np.array(lats), np.array(lons), PL1992)
    if crs is not PL1992:   # corners of the PL-1992 frame carried into the zone
        cx = [x.min(), x.max(), x.min(), x.max()]
        cy = [y.min(), y.min(), y.max(), y.max()]
        lat, lon = tm_inverse(np.array(cx), np.array(cy), PL1992)
        x, y = tm_forward(lat, lon, crs)
    return float(x.min()), float(y.min()), float(x.max()), float(y.max())


def in_blocks(draw, u, v, px, block=128):
    """draw over blocks of pixels: the distance helpers then skip the far segments."""
    rows = []
    for r in range(0, u.shape[0], block):
        rows.append(np.concatenate([draw(u[r:r + block, c:c + block], v[r:r + block, c:c + block], px)
                                    for c in range(0, u.shape[1], block)], axis=1))
    return np.concatenate(rows, axis=0)


def picture(box, width, draw, crs=PL1992):
    x0, y0, x1, y1 = box
    height = max(1, round(width * (y1 - y0) / (x1 - x0)))
    u, v = raster_grid(x0, y0, x1, y1, width, height, crs)
    px = (x1 - x0) / width
    return png(in_blocks(draw, u, v, px))


TILE_MARGIN = 500    # metres of plain ground beyond the data, so that a map window has no holes


def tiles():
    """XYZ tiles over the data area and a margin: {(z, x, y): png}; tiles wholly outside are one plain body."""
    lat, lon = local_to_wgs([-AREA - TILE_MARGIN, AREA + TILE_MARGIN], [-AREA - TILE_MARGIN, AREA + TILE_MARGIN])
    (s, n), (w, e) = (float(a) for a in lat), (float(a) for a in lon)
    plain = png(np.full((256, 256, 3), TILE_BACKGROUND, np.uint8))
    out = {}
    for z in range(ZOOMS[0], ZOOMS[1] + 1):
        scale = 2 ** z

        def tx(lon):
            return (lon + 180) / 360 * scale

        def ty(lat):
            r = math.radians(lat)
            return (1 - math.log(math.tan(r) + 1 / math.cos(r)) / math.pi) / 2 * scale
        for x in range(int(tx(w)), int(tx(e)) + 1):
            for y in range(int(ty(n)), int(ty(s)) + 1):
                px = (np.arange(256) + 0.5) / 256
                xx, yy = np.meshgrid(x + px, y + px)
                lon = xx / scale * 360 - 180
                lat = np.degrees(np.arctan(np.sinh(np.pi * (1 - 2 * yy / scale))))
                u, v = wgs_to_local(lat, lon)
                if np.abs(u).min() > AREA and np.abs(v).min() > AREA or u.min() > AREA or u.max() < -AREA \
                        or v.min() > AREA or v.max() < -AREA:
                    out[(z, x, y)] = plain
                    continue
                metres = 156543.034 * math.cos(math.radians(CENTER[0])) / scale
                out[(z, x, y)] = png(in_blocks(tile_rgb, u, v, metres))
    return out


def route(path, body_file, content_type, name=None, query=None, method="GET"):
    r = {"name": name or path, "method": method, "path": path}
    if query:
        r["query_includes"] = query
        r["query_keys_nocase"] = True
    r.update({"content_type": content_type, "body_file": body_file})
    return r


def build(out):
    files, routes = {}, []
    xml, png_type, js, txt = "text/xml; charset=utf-8", "image/png", "application/json", "text/plain"

    def add(path, file, body, ctype, **kw):
        files[file] = body
        routes.append(route(path, file, ctype, **kw))

    caps, getmap = {"request": "GetCapabilities"}, {"request": "GetMap"}
    bbox = frame_wgs()
    box92 = frame_pl1992(bbox)
    box2000 = frame_pl1992(bbox, PL2000_8)

    # Administrative unit, cadastre (the county's WFS) and the county base map (its WMS).
    add("/mapy/wss/service/PZGIK/PRG/WFS/AdministrativeBoundaries", "prg.xml", prg_answer(), xml, name="prg")
    egib = "/" + COUNTY_HOST[1] + "/opendata/wfs"
    add(egib, "egib/capabilities.xml", wfs_caps(), xml, name="egib-caps", query=caps)
    add(egib, "egib/dzialki.xml", parcels_answer(), xml, name="egib-parcels", query={"typenames": "ms:dzialki"})
    add(egib, "egib/budynki.xml", buildings_answer(), xml, name="egib-buildings", query={"typenames": "ms:budynki"})
    bdot500 = "/" + COUNTY_HOST[1] + "/integracja/bdot500/"
    add(bdot500, "bdot500/capabilities.xml",
        wms_caps("1.1.1", [("bdot500_budowle", "Budowle i budynki"), ("bdot500_komunikacja", "Komunikacja")],
                 "BDOT500 Lublin"), xml, name="bdot500-caps", query=caps)
    add(bdot500, "bdot500/map.png", picture(box92, 1000, base_map_rgb), png_type, name="bdot500-map", query=getmap)

    # The general plan from the registry.
    add("/rejestr/api/public/published/query", "registry/acts.json", registry_acts(), js, name="registry-acts",
        method="POST")
    add("/rejestr/api/public/published/DEMO-066301-POG/download", "registry/pog.xml", pog_answer(), xml,
        name="registry-pog")

    # National integrations standing in for the municipality's plans and the county's utilities.
    kimpzp = "/mapy/wss/ext/KrajowaIntegracjaMiejscowychPlanowZagospodarowaniaPrzestrzennego"
    add(kimpzp, "kimpzp/capabilities.xml",
        wms_caps("1.1.1", [("plany_rysunek", "Rysunki planow"), ("plany_granice", "Granice planow")], "KIMPZP"), xml,
        name="kimpzp-caps", query=caps)
    add(kimpzp, "kimpzp/map.png", picture(box92, 800, plan_rgba), png_type, name="kimpzp-map", query=getmap)
    kiut = "/integracja/cgi-bin/KrajowaIntegracjaUzbrojeniaTerenu"
    add(kiut, "kiut/capabilities.xml",
        wms_caps("1.3.0", [("przewod_wodociagowy", "Wodociag"), ("przewod_gazowy", "Gaz"),
                           ("przewod_kanalizacyjny", "Kanalizacja"), ("przewod_elektroenergetyczny", "Energetyka")],
                 "KIUT"), xml, name="kiut-caps", query=caps)
    add(kiut, "kiut/map.png", picture(box92, 1000, utilities_rgba), png_type, name="kiut-map", query=getmap)

    # The orthophoto: asked in the project's PL-2000 zone.
    add("/mapy/wss/service/PZGIK/ORTO/WMS/StandardResolution", "ortho.png",
        picture(box2000, 1024, lambda u, v, px: ortho_rgb(u, v), PL2000_8), png_type, name="ortho", query=getmap)

    # Elevation sheets and their indexes, the LiDAR tile and its index.
    nmt_url, nmpt_url = OPENDATA + "/NumDaneWys/NMT/demo/nmt.asc", OPENDATA + "/NumDaneWys/NMPT/demo/nmpt.asc"
    las_url = OPENDATA + "/NumDaneWys/DanePomiarowe/demo/lidar.las"
    pzgik = "/mapy/wss/service/PZGIK/"
    add(pzgik + "NumerycznyModelTerenuEVRF2007/WFS/Skorowidze", "index/nmt.xml",
        index_answer("SkorowidzNMT2024", [("M-34-23-D-b-1-2", nmt_url, [("format", "ASCII XYZ GRID")])]), xml,
        name="nmt-index")
    add(pzgik + "NumerycznyModelPokryciaTerenuEVRF2007/WFS/Skorowidze", "index/nmpt.xml",
        index_answer("SkorowidzNMPT2024", [("M-34-23-D-b-1-2", nmpt_url, [("format", "ASCII XYZ GRID")])]), xml,
        name="nmpt-index")
    add(pzgik + "DanePomiaroweLidarEVRF2007/WFS/Skorowidze", "index/lidar.xml",
        index_answer("SkorowidzDanychPomiarowychLIDAR2024",
                     [("M-34-23-D-b-1-2-1", las_url, [("char_przestrz", "1"), ("uklad_xy", "PL-1992"),
                                                      ("uklad_h", "PL-EVRF2007-NH"), ("format", "LAS")])]), xml,
        name="lidar-index")
    add("/opendata/NumDaneWys/NMT/demo/nmt.asc", "nmt.asc", asc_sheet(ground), txt, name="nmt-sheet")
    add("/opendata/NumDaneWys/NMPT/demo/nmpt.asc", "nmpt.asc", asc_sheet(surface), txt, name="nmpt-sheet")
    add("/opendata/NumDaneWys/DanePomiarowe/demo/lidar.las", "lidar.las", las_tile(), "application/octet-stream",
        name="lidar-tile")

    # 3D buildings of the county.
    add("/opendata/InneDane/Budynki3D/LOD1/2024/06/0663.zip", "lod1.zip", zip_of("0663_lod1_demo.gml",
                                                                                  citygml(BUILDINGS, 1)),
        "application/zip", name="lod1")
    add("/opendata/InneDane/Budynki3D/LOD2/0663_gml.zip", "lod2.zip", zip_of("0663_lod2_demo.gml", citygml(LOD2_BUILDINGS, 2)),
        "application/zip", name="lod2")

    # Address search and OpenStreetMap.
    add("/photon/api/", "photon.json", photon_answer(), js, name="photon")
    add("/nominatim/search", "nominatim.json", nominatim_answer(), js, name="nominatim")
    add("/overpass/api/interpreter", "overpass.json", overpass_answer(), js, name="overpass")

    # The offline base map.
    bodies = {}
    for (z, x, y), body in sorted(tiles().items()):
        name = bodies.setdefault(body, f"tiles/{z}/{x}/{y}.png")   # one file per distinct picture
        files[name] = body
        routes.append({"name": f"tile {z}/{x}/{y}", "method": "GET", "path": f"/demo-tiles/{z}/{x}/{y}.png",
                       "content_type": png_type, "headers": {"Cache-Control": "max-age=86400"}, "body_file": name})

    lat0, lon0 = local_to_wgs(0, 0)
    demo = {"name": NAME, "bbox": bbox, "center": [round(float(lat0), 6), round(float(lon0), 6)], "zoom": 17,
            "rewrite": [list(COUNTY_HOST)], "tiles": "/demo-tiles/{z}/{x}/{y}.png",
            "minZoom": ZOOMS[0], "maxZoom": ZOOMS[1]}
    files["manifest.json"] = json.dumps({"routes": routes}, indent=1) + "\n"
    files["demo.json"] = json.dumps(demo, indent=1) + "\n"
    files["README.md"] = README

    out = Path(out)
    for name, body in sorted(files.items()):
        p = out / name
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_bytes(body if isinstance(body, bytes) else body.encode("utf-8"))


README = """# Offline demo data

A made-up neighbourhood on real coordinates in Lublin (county 0663): a stream valley with a pond, three
streets and a bridge, 48 parcels, 16 buildings with flat, gabled, hipped and shed roofs (two only in LOD1).
All of it - parcels, buildings, plans, utilities, terrain, LiDAR, pictures - is invented. Vector data and
elevation sheets cover 480 m x 480 m, the LiDAR tile 400 m x 400 m; pictures are drawn for demo.json's frame.
`manifest.json`: routes for `veldra mock-services --root data/demo`; `demo.json`: place, frame, rewrites, tiles.
Regenerate (Python 3 + numpy, deterministic): `python3 scripts/make-demo.py data/demo`;
tests/integration/test_demo_data.py checks that a rerun gives these files byte for byte.
"""


if __name__ == "__main__":
    build(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "data" / "demo")
