#!/usr/bin/env bash
# Runs the browser tests (tests/browser) against the programs of a build tree:
# installs what they need and lacks (lighttpd, Chromium, Node.js), installs
# the npm packages of the lock file with `npm ci` (no browser is downloaded:
# the tests drive Debian's /usr/bin/chromium), then runs every test file.
# Screenshots go to <build>/browser-artifacts.
#   scripts/browser_test.sh [BUILD_DIR] [file.test.mjs ...]   (default build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
shift || true
[ -x "$build/bin/orv" ] && [ -x "$build/bin/vexil" ] ||
  { echo "browser_test.sh: build the programs in $build first" >&2; exit 1; }
build=$(cd "$build" && pwd)

bash scripts/deps.sh browser
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
(cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)

rm -rf "$build/browser-artifacts"
BUILD_DIR=$build BROWSER_ARTIFACTS=$build/browser-artifacts node tests/browser/run.mjs "$@"
