#!/usr/bin/env bash
# Runs the browser test of vexlor serve's page: Debian's Chromium driven by
# playwright-core (installed from package-lock.json; no browser is fetched).
# Usage: bash tests/browser/run.sh PATH/TO/vexlor [SCREENSHOT]
# SCREENSHOT defaults to build/browser/editor.png.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 PATH/TO/vexlor [SCREENSHOT]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export VEXLOR=$(realpath "$1")
export SCREENSHOT=$(realpath -m "${2:-$root/build/browser/editor.png}")
export CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
[ -x "$VEXLOR" ] || { echo "$0: $VEXLOR is not an executable" >&2; exit 2; }
[ -x "$CHROMIUM" ] || { echo "$0: no browser at $CHROMIUM (Debian package chromium)" >&2; exit 2; }
cd "$here"
[ -d node_modules ] || npm ci --no-audit --no-fund --loglevel=error
exec node --test --test-timeout=600000 editor.test.mjs
