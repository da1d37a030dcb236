#!/usr/bin/env python3
"""Fails when a source file includes a header of a module above its own.

Every folder under src/ is a module with a level; a file may include headers of
its own module and of modules on lower levels only. Modules on the same level
(terrain and cloud, place and host) do not see each other. A folder missing
from the table is an error too, so a new module states where it stands.

    scripts/check-layering.py [SRC_DIR]
"""
import pathlib
import re
import sys

LEVELS = {
    "platform": 0,
    "geo": 1,
    "hostapi": 2,
    "formats": 2,
    "net": 3,
    "terrain": 4,
    "cloud": 4,
    "lod2fit": 4,
    "place": 5,
    "host": 5,
    "cleanup": 5,
    "bridge": 6,
    "cloud_ui": 7,
    "app": 8,
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]*"', re.MULTILINE)


def check(src: pathlib.Path) -> list[str]:
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".hpp", ".cpp", ".cc") or not path.is_file():
            continue
        rel = path.relative_to(src)
        if len(rel.parts) < 2:
            continue  # files at the top of src/ are the program's own entry
        own = rel.parts[0]
        if own not in LEVELS:
            problems.append(f"{rel}: module '{own}' has no level in scripts/check-layering.py")
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for m in INCLUDE.finditer(text):
            target = m.group(1)
            if target == own:
                continue
            line = text.count("\n", 0, m.start()) + 1
            if target not in LEVELS:
                problems.append(f"{rel}:{line}: includes '{target}/', which is no module")
            elif LEVELS[target] >= LEVELS[own]:
                problems.append(f"{rel}:{line}: {own} (level {LEVELS[own]}) includes {target}/ "
                                f"(level {LEVELS[target]}): only lower levels may be included")
    return problems


def main() -> int:
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent / "src"
    problems = check(src)
    for p in problems:
        print(p)
    if problems:
        print(f"layering: {len(problems)} upward include(s)")
        return 1
    print("layering: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
