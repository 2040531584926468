#!/usr/bin/env bash
# Runs the browser tests (Chromium headless against Apache with mod_wendrake on loopback): installs their npm
# packages (puppeteer-core, pinned by package-lock.json; it never downloads a browser) when they are missing or
# older than the lock file, then node's test runner.
# Usage: tests/browser/run.sh  (WK_BUILD_DIR=build folder or WK_INSTALL=installation; see README)
set -euo pipefail
# Folders given relative to the caller's folder stay valid after the cd below.
for name in WK_BUILD_DIR WK_INSTALL WK_SCREENSHOT_DIR; do
    if [ -n "${!name:-}" ]; then
        export "$name=$(realpath -m -- "${!name}")"
    fi
done
cd "$(dirname "$0")"
if [ ! -d node_modules ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
    PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
fi
exec node --test "$@"
