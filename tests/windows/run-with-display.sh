#!/usr/bin/env bash
# Runs a Windows test program under wine with an X display: the one in
# DISPLAY, or a private Xvfb server when none is set. The whole run is bounded
# by a timeout, so a dialog that never closes cannot hang the test run.
set -euo pipefail
limit=${VEXLOR_DIALOG_TIMEOUT:-120}
if [ -n "${DISPLAY:-}" ]; then
  exec timeout -k 10 "$limit" wine "$@"
fi
exec timeout -k 10 "$limit" xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"
