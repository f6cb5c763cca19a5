#!/usr/bin/env bash
# Every test: the host suites (driver, virtual scanner, tools, update program) under CTest,
# then the Windows builds' tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh host windows
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host

cmake --preset win64 >/dev/null
cmake --build --preset win64
scripts/run_wine_tests.sh build/win64
