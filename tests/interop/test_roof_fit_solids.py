"""Every roof primitive written by `veldra roof-fit --type NAME --glb` and judged by CGAL
(closed, outward, free of self-intersections) and by manifold-3d; both measure the volume
of each closed part, and the two measures must agree."""
import json
import math
import random

import pytest

from fixture import SOLID_CHECK, solid_checks, veldra

PRIMITIVES = ["Flat", "Shed", "Gabled", "Hipped", "Tent", "HalfHipped", "HippedOneSided", "Mansard",
              "FiveSidedGabled", "AsymGabled", "BerlinRoof", "Barrel", "Cone", "Dome", "Nave", "GabledCross",
              "GabledCorner", "GabledTElement", "ShedGabledCross", "ShedBerlinCross", "ShedCornerInvers",
              "ShedGabledCorner", "BerlinShedCorner", "ShedDormer", "GabledDormer"]


def turned(corners, degrees, east=637000.0, north=486000.0):
    a = math.radians(degrees)
    return [(east + x * math.cos(a) - y * math.sin(a), north + x * math.sin(a) + y * math.cos(a)) for x, y in corners]


FOOTPRINTS = {
    "rectangle": turned([(0, 0), (16, 0), (16, 9), (0, 9)], 33),
    "trapezoid": turned([(0, 0), (14, 0), (11, 7), (2, 6)], -58),
    "l_shape": turned([(0, 0), (12, 0), (12, 5), (5, 5), (5, 11), (0, 11)], 140),
    "concave_quad": turned([(0, 0), (10, 0), (5, 3), (0, 10)], -20),
    "star": turned([((9, 4)[i % 2] * math.cos(math.pi * i / 6), (9, 4)[i % 2] * math.sin(math.pi * i / 6)) for i in range(12)], 5),
}


def write_inputs(folder, corners):
    """A sloped roof 6 m over the ground, sampled over the footprint's box."""
    rnd = random.Random(3)
    xs, ys = [c[0] for c in corners], [c[1] for c in corners]
    with open(folder / "fp.xyz", "w") as f:
        f.writelines(f"{x:.3f} {y:.3f} 150.0\n" for x, y in corners)
    with open(folder / "pts.xyz", "w") as f:
        for _ in range(400):
            x, y = rnd.uniform(min(xs), max(xs)), rnd.uniform(min(ys), max(ys))
            f.write(f"{x:.3f} {y:.3f} {156 + 0.2 * (y - min(ys)):.3f}\n")


@pytest.mark.parametrize("footprint", sorted(FOOTPRINTS))
def test_every_primitive_is_a_sound_solid(footprint, tmp_path):
    if not SOLID_CHECK.exists():
        pytest.skip("solid_check not built (libcgal-dev missing)")
    write_inputs(tmp_path, FOOTPRINTS[footprint])
    failures = []
    for name in PRIMITIVES:
        glb = tmp_path / f"{name}.glb"
        r = veldra("roof-fit", "--points", tmp_path / "pts.xyz", "--footprint", tmp_path / "fp.xyz",
                   "--type", name, "--glb", glb)
        assert r.returncode == 0, (name, r.stderr)
        assert json.loads(r.stdout)["type"] == name
        cgal, manifold = solid_checks(glb)
        assert cgal, name
        for i, part in enumerate(cgal):
            if not (part["closed"] and part["outward"] and not part["selfIntersects"] and part["volume"] > 1):
                failures.append((name, i, part))
            if manifold and not (manifold[i]["ok"] and math.isclose(manifold[i]["volume"], part["volume"], rel_tol=1e-4)):
                failures.append((name, i, manifold[i], part["volume"]))
    assert not failures, failures
