#!/usr/bin/env bash
# Builds everything and runs every test. Usage: scripts/test.sh [build folder] [extra CMake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
build="${1:-build}"
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWK_WERROR=ON "$@"
cmake --build "$build" -j 2
if ! ctest --test-dir "$build" --output-on-failure -j 2; then
    # The failed tests' output once more, last: a log cut to its end still shows why they failed.
    echo "== output of the failed tests"
    awk '/^[0-9]+\/[0-9]+ Testing: / { block = "" } { block = block $0 "\n" }
         /^Test Failed\./ { failed = 1 } /" end time: / { if (failed) printf "%s", block; failed = 0 }' \
        "$build/Testing/Temporary/LastTest.log" | tail -n 200
    exit 1
fi
