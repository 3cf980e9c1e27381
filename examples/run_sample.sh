#!/usr/bin/env bash
# The main job on the bundled sample. Usage: examples/run_sample.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here="$(cd "$(dirname "$0")" && pwd)"
out="$build/sample-out"
rm -rf "$out" && mkdir -p "$out"
"$build/bin/lfdemo" "$here/sample/sample.txt" "$out"
