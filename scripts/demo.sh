#!/usr/bin/env bash
# The main job: builds the host tools and scans the built-in test chart on the virtual
# scanner to an image file.
# Usage: demo.sh [output file] [extra lumetra-scan options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh host
cmake --preset host >/dev/null
cmake --build --preset host --target lumetra-scan
out=${1:-out/chart.png}
shift || true
mkdir -p "$(dirname "$out")"
build/host/tools/lumetra-scan --mode Color --resolution 150 --progress -o "$out" "$@"
echo "wrote $(realpath "$out")"
