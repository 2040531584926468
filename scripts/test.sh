#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [build folder] [extra CMake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
build="${1:-build}"
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWK_WERROR=ON "$@"
cmake --build "$build" -j 2
ctest --test-dir "$build" --output-on-failure -j 2
