#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
vexlor_need "${VEXLOR_CORE_PACKAGES[@]}"

jobs=$(nproc)
for preset in release asan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== win32"
vexlor_need_i386
vexlor_need "${VEXLOR_WIN32_PACKAGES[@]}"
# The test preset runs wine in this prefix, quietly.
export WINEPREFIX="$PWD/build/wine" WINEDEBUG=-all
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
# The first start of wine in a fresh prefix sets the prefix up, which takes a
# while: done once here, bounded, and finished before the tests start. The
# .NET and HTML runtimes are not needed, so wine does not offer to install them.
WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 wineboot -i
timeout 120 wineserver -w
# One virtual display for all wine programs of the run; the dialog tests use it.
xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset win32 -j "$jobs"

# The command-line tool and the plug-in module must make the same pixels.
echo "== native and Windows frames"
build/release/tests/vexlor_frame_digest > build/digest-native.txt
timeout 300 wine build/win32/tests/vexlor_frame_digest.exe | tr -d '\r' > build/digest-win32.txt
[ -s build/digest-native.txt ] && diff build/digest-native.txt build/digest-win32.txt
echo "frame digests: native and Windows builds agree on $(wc -l < build/digest-native.txt) frames"

# Each fuzz target for a bounded time on its seeds (scripts/fuzz.sh runs longer).
echo "== fuzz"
bash scripts/fuzz.sh 30
