"""The generator of the compiled service directories: it accepts the shipped
data and refuses a damaged file, naming the line, without writing anything."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from fixture import shared_file

REPO = Path(__file__).resolve().parents[2]
GEN = REPO / "scripts" / "gen-service-tables.py"
DATA = REPO / "data" / "services"


def generate(data, out):
    return subprocess.run([sys.executable, str(GEN), "--data", str(data), "--out", str(out)],
                          capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize("damage, message", [
    (lambda lines: lines.insert(4, lines.pop(5)), "is not above the previous key"),
    (lambda lines: lines.append("3299\tx\thttps://a b\t"), "holds a blank"),
    (lambda lines: lines.append("3299\tx\tftp://a\t"), "must start with http"),
    (lambda lines: lines.append("329\tx\t\t"), "is not 4 digits"),
    (lambda lines: lines.append("3299\tx\t"), "3 cells, expected 4"),
    (lambda lines: lines.__setitem__(2, "teryt\twms\twfs"), "header must be"),
    (lambda lines: lines.__setitem__(slice(None), [line + "\r" for line in lines]), "CR LF"),
])
def test_damaged_file_is_refused(tmp_path, damage, message):
    data = tmp_path / "data"
    shutil.copytree(DATA, data)
    f = data / "county_gesut.tsv"
    lines = f.read_text(encoding="utf-8").rstrip("\n").split("\n")
    damage(lines)
    f.write_text("\n".join(lines) + "\n", encoding="utf-8")
    out = tmp_path / "ServiceTables.cpp"
    r = generate(data, out)
    assert r.returncode == 1
    assert "county_gesut.tsv" in r.stderr and message in r.stderr
    assert not out.exists()


def test_municipal_plan_table_holds_every_collected_service():
    """Every municipality of the collected zoning-registry configuration, with its addresses."""
    source = shared_file("services/municipal_mpzp.csv")
    lines = (DATA / "municipal_plans.tsv").read_text(encoding="utf-8").splitlines()[3:]
    table = {key: (wms, wfs) for key, _name, wms, wfs in (line.split("\t") for line in lines)}
    rows = [line.split(";") for line in source.read_text(encoding="utf-8").splitlines()[1:]]
    assert rows
    for code, wms, wfs in rows:
        assert len(code) == 6 and code.isdigit(), code
        assert table.get(code) == (wms, wfs), code
