#!/usr/bin/env bash
# Takes the README's picture of the configuration dialog: opens it under Xvfb
# in a wine virtual desktop (so that wine draws the caption itself), saves the
# window as a BMP and converts it to host/dialog.png. Needs the win64 build,
# whose dialog is the 32-bit one's and which wine64 runs on any x86-64
# machine.
set -euo pipefail
cd "$(dirname "$0")/../.."
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine64}" WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
VEXLOR_SCREENSHOT="Z:${work//\//\\}\\dialog.bmp" timeout -k 10 120 \
  xvfb-run -a -s "-screen 0 1024x768x24" \
  /usr/lib/wine/wine64 explorer /desktop=vexlor,800x600 build/win64/bin/vexlor_dialog_tests.exe \
  --gtest_also_run_disabled_tests --gtest_filter='*Screenshot*'
convert "$work/dialog.bmp" -strip host/dialog.png
echo "wrote host/dialog.png"
