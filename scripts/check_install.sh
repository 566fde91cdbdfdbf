#!/usr/bin/env bash
# Installs the checkout as a user would, into a fresh virtual environment, and uses it from outside the checkout:
# `pip install .`, with its type stubs checked against it (tests/typing/check_types.py: stubtest and mypy), then
# the wheel of `pip wheel`. Nothing is downloaded (--no-index); setuptools, wheel and mypy come from the system's
# site packages. pip builds in the checkout's build/ folder (setuptools' build_temp), where the CMake tree of the
# last install is kept, so a repeated check recompiles only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset PYTHONPATH
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
pip=("$scratch/venv/bin/python" -m pip --disable-pip-version-check --no-input)

# The module as installed: found in the environment's site packages (not in the checkout or a build tree),
# under the package's version, and parsing.
check() {
  (cd "$scratch" && "$scratch/venv/bin/python" -I - "$scratch/venv" <<'PY'
import importlib.metadata
import os
import sys

import quillex

venv = os.path.realpath(sys.argv[1])
where = os.path.realpath(quillex.__file__)
assert where.startswith(os.path.join(venv, "lib")), where
assert quillex.__version__ == importlib.metadata.version("quillex"), quillex.__version__
g = quillex.Word(quillex.alphas()) + quillex.Literal("=") + quillex.Word(quillex.nums())
assert g.parse_string("x=42") == ["x", "=", "42"]
assert quillex.SkipTo(quillex.Literal("end")).search_string("a b end") == ["a b "]
stubs = os.path.join(os.path.dirname(where), "quillex-stubs")
for name in ("__init__.pyi", "py.typed"):
    assert os.path.isfile(os.path.join(stubs, name)), os.path.join(stubs, name)
print(f"installed quillex {quillex.__version__} at {where}, its type stubs beside it")
PY
  )
}

echo "== pip install ."
"${pip[@]}" install --quiet --no-index --no-build-isolation "$checkout"
check

echo "== the installed stubs against the installed module: stubtest, mypy --strict, the typed programs run"
(cd "$scratch" && "$scratch/venv/bin/python" -I "$checkout/tests/typing/check_types.py" "$checkout/README.md")

echo "== pip wheel ., then the wheel installed"
"${pip[@]}" uninstall --quiet --yes quillex
"${pip[@]}" wheel --quiet --no-index --no-build-isolation --no-deps --wheel-dir "$scratch/wheels" "$checkout"
"${pip[@]}" install --quiet --no-index "$scratch"/wheels/quillex-*.whl
check
