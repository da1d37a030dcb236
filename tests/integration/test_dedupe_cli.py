"""`veldra dedupe` on a project holding the same frame placed twice: the second copy goes, the
first stays exactly as a single placement left it."""

import json
import shutil
from pathlib import Path

from fixture import serve, veldra
import test_fetch_pipeline as fp
from test_place_pipeline import routes, session


def elements(path):
    return json.loads(Path(path).read_text(encoding="utf-8"))["elements"]


def test_second_placement_of_a_frame_is_removed(tmp_path):
    project, single = tmp_path / "projekt.json", tmp_path / "single.json"
    with serve(tmp_path, *routes(), extra=[fp.LUBLIN]) as fx:
        for origin in (True, False):
            placed = session(project, fx, tmp_path / "home", origin=origin, layers=["dzialki"])[0][-1]
            assert placed["type"] == "placeDone", placed
            if origin:
                shutil.copy(project, single)
    once, twice = elements(single), elements(project)
    kinds = {e["type"] for e in once}
    assert 20 in kinds and kinds <= {20, 15}, kinds   # only polylines and texts: all of it can be a duplicate
    assert len(twice) == 2 * len(once)

    before = project.read_bytes()
    dry = veldra("dedupe", "--project", project, "--dry-run")
    assert dry.returncode == 0, dry.stderr
    assert project.read_bytes() == before
    n_lines = sum(e["type"] == 20 for e in once)
    n_texts = len(once) - n_lines
    assert f"- polilinie: {n_lines}\n- teksty: {n_texts}" in dry.stdout

    # A layer the project lacks stops the command before anything changes.
    bad = veldra("dedupe", "--project", project, "--layer", "NIE_MA_TAKIEJ")
    assert bad.returncode != 0 and project.read_bytes() == before

    r = veldra("dedupe", "--project", project)
    assert r.returncode == 0, r.stderr
    assert f"Usunieto duplikaty:\n- polilinie: {n_lines}\n- teksty: {n_texts}" in r.stdout
    assert elements(project) == once
