"""Helpers for driving `veldra bridge map` as a black box."""
import json
import os
import subprocess
import tempfile

from fixture import private_env


def veldra_bin():
    path = os.environ.get("VELDRA_BIN")
    if not path:
        raise RuntimeError("VELDRA_BIN is not set (run through ctest)")
    return path


class BridgeRun:
    def __init__(self, returncode, out_lines, stderr):
        self.returncode = returncode
        self.messages = [json.loads(line) for line in out_lines if line.strip()]
        self.raw = out_lines
        self.stderr = stderr

    def of_type(self, t):
        return [m for m in self.messages if m.get("type") == t]


def run_bridge(lines, project=None, env=None, home=None, timeout=120, extra_args=()):
    """Feeds lines (str or dict) to `veldra bridge map` and collects its output."""
    e = {**private_env(home or tempfile.mkdtemp(prefix="veldra_home_")), **(env or {})}
    args = [veldra_bin(), "bridge", "map", *extra_args]
    if project:
        args += ["--project", project]
    text = "".join((l if isinstance(l, str) else json.dumps(l)) + "\n" for l in lines)
    p = subprocess.run(args, input=text.encode("utf-8"), capture_output=True, timeout=timeout, env=e)
    out = p.stdout.decode("ascii").splitlines()  # the channel is pure ASCII by contract
    return BridgeRun(p.returncode, out, p.stderr.decode("utf-8", "replace"))
