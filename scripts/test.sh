#!/usr/bin/env bash
# The whole test suite: the optimised build, then the same suites under AddressSanitizer and
# UndefinedBehaviorSanitizer. Any failure or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
bash scripts/build.sh build/release
bash scripts/build.sh build/asan -DQUILLEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
status=0
echo "== sanitizer build =="
ctest --test-dir build/asan --output-on-failure -j "$(nproc)" || status=1
echo "== release build =="
ctest --test-dir build/release --output-on-failure -j "$(nproc)" || status=1
exit $status
