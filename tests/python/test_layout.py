"""The source floors: the element library (grammar nodes and their byte machinery) includes nothing of the floors
built on it, so it stays usable, and testable, without the interpreter."""
import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).resolve().parents[2] / "src"
UPPER_FLOORS = ("engine/", "fastpaths/", "py/")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def element_sources():
    return sorted(p for p in (SRC / "elements").iterdir() if p.suffix in (".h", ".cpp"))


@pytest.mark.skipif(not (SRC / "elements").is_dir(), reason="run from a checkout")
def test_element_floor_includes_nothing_above_it():
    upward = [f"{p.name}: {name}" for p in element_sources() for name in INCLUDE.findall(p.read_text())
              if name.startswith(UPPER_FLOORS) or name.startswith(("Python.h", "python3"))]
    assert upward == []
