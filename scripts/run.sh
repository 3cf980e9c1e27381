#!/usr/bin/env bash
# Builds the programs and runs the main job on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo ${LF_CMAKE_ARGS:-} >/dev/null
cmake --build build -j"$(nproc)"
bash examples/run_sample.sh build
