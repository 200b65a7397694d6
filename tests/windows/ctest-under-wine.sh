#!/usr/bin/env bash
# Runs the tests of a Windows build under wine:
#   ctest-under-wine.sh PRESET LOADER
# in the wine prefix WINEPREFIX (set up first when new), LOADER being the
# wine that runs the build's programs (wine, or wine64's loader), quietly.
# Run it with an X display (xvfb-run) for the dialog tests.
set -euo pipefail
preset=$1 loader=$2
# The server serves 32-bit and 64-bit programs; wine64 is always installed.
server=/usr/lib/wine/wineserver64
export WINEDEBUG=-all

# The first start of wine in a fresh prefix sets the prefix up, which takes a
# while: done here, bounded, and finished before the tests start. The .NET
# and HTML runtimes are not needed, so wine does not offer to install them.
WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 "$loader" wineboot -i
timeout 120 "$server" -w

# One server for all the tests, with the prefix's system processes started
# here, their output apart from the tests'. Otherwise the server ends with
# each test, and a test starting just then loses its connection ("wine
# client error: recvmsg: Connection reset by peer"); and a system process
# started by a test would hold that test's output open after it ends.
"$server" -p
trap '"$server" -k' EXIT
timeout 120 "$loader" wineboot </dev/null >/dev/null 2>&1
ctest --preset "$preset" -j "$(nproc)"
