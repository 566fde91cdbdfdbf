#!/usr/bin/env bash
# The whole test suite: the optimised build, then the same suites under AddressSanitizer and
# UndefinedBehaviorSanitizer, then an install with pip into a fresh virtual environment. Any failure or
# sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
bash scripts/build.sh build/release -DQUILLEX_TESTS=ON
bash scripts/build.sh build/asan -DQUILLEX_TESTS=ON -DQUILLEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
status=0
echo "== sanitizer build =="
ctest --test-dir build/asan --output-on-failure -j "$(nproc)" || status=1
echo "== release build =="
ctest --test-dir build/release --output-on-failure -j "$(nproc)" || status=1
echo "== installed with pip =="
bash scripts/check_install.sh || status=1
exit $status
