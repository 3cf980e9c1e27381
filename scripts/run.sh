#!/usr/bin/env bash
# Builds the programs and runs the main job: the bundled sample project built
# with lexforge, listed with ebinfo, compressed and checked with Packwell.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo ${LF_CMAKE_ARGS:-} >/dev/null
cmake --build build -j"$(nproc)"
bash examples/run_sample.sh build
