#!/usr/bin/env bash
# Runs a Windows test program with an X display: `run-with-display.sh LOADER
# PROGRAM [ARGS...]`, LOADER being the wine that runs it (wine, or wine64's
# loader). The display is the one in DISPLAY, or a private Xvfb server when
# none is set. The whole run is bounded by a timeout, so a dialog that never
# closes cannot hang the test run.
set -euo pipefail
limit=${VEXLOR_DIALOG_TIMEOUT:-120}
if [ -n "${DISPLAY:-}" ]; then
  exec timeout -k 10 "$limit" "$@"
fi
exec timeout -k 10 "$limit" xvfb-run -a -s "-screen 0 1024x768x24" "$@"
