#!/usr/bin/env bash
# The module's main job on a real example: parse the files in examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
bash scripts/build.sh build/release > build/example-build.log 2>&1 || { cat build/example-build.log; exit 1; }
PYTHONPATH=build/release /usr/bin/python3 examples/main.py "$@"
