#!/usr/bin/env bash
# Line and branch coverage of the module's own code (not tests, hosts, tools, benchmarks or fuzz targets).
# Usage: scripts/coverage.sh [build folder]   (default build-cov; builds with gcov instrumentation and runs ctest)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
build="${1:-build-cov}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWK_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic -O0" -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic -O0" \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage \
    >/dev/null
cmake --build "$build" -j 2
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j 2 >"$build/coverage-ctest.log" 2>&1 || {
    tail -n 30 "$build/coverage-ctest.log" >&2
    echo "Some tests failed; coverage below is of a failing run." >&2
}
# The module's folders: whatever of them exists in this checkout.
filters=()
for folder in platform abi log text security html i18n directory settings request screening guard filter; do
    [ -d "$folder" ] && filters+=(--filter "$PWD/$folder/")
done
# Per-file tables of lines (coverage.txt) and branches (coverage-branches.txt); the summary on standard output.
options=(-r . --object-directory "$build" "${filters[@]}" --exclude-throw-branches --exclude-unreachable-branches
    --gcov-ignore-parse-errors --gcov-exclude ".*CMakeC.*CompilerId.*")
gcovr "${options[@]}" --branches -o "$build/coverage-branches.txt"
gcovr "${options[@]}" --print-summary -o "$build/coverage.txt"
