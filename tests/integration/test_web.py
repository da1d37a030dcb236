"""Runs the browser tests (tests/web/*.test.mjs: headless Chromium through
playwright-core against `veldra ui`) under ctest."""
import glob
import os
import shutil
import subprocess

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
WEB_TESTS = os.path.join(HERE, "..", "web")
NODE_DIR = os.environ.get("VELDRA_NODE_DIR", os.path.join(HERE, "..", "node"))


def _missing():
    if not shutil.which("node"):
        return "node is not installed"
    if not os.path.exists("/usr/bin/chromium"):
        return "Debian's chromium is not installed"
    if not os.path.isdir(os.path.join(NODE_DIR, "node_modules", "playwright-core")):
        return "playwright-core is missing: run scripts/install-node-deps.sh"
    return None


@pytest.mark.parametrize("test_file", sorted(os.path.basename(p) for p in glob.glob(os.path.join(WEB_TESTS, "*.test.mjs"))))
def test_browser(test_file):
    why = _missing()
    if why:
        pytest.skip(why)
    env = dict(os.environ)
    env.setdefault("VELDRA_NODE_DIR", NODE_DIR)
    p = subprocess.run(["node", "--test", "--test-reporter=tap", os.path.join(WEB_TESTS, test_file)],
                       capture_output=True, text=True, timeout=300, env=env)
    assert p.returncode == 0, p.stdout[-6000:] + p.stderr[-3000:]
