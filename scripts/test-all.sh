#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test.
# Each stage's line "== NAME" is followed by "== NAME: N s" when it is done.
# VEXLOR_STAGES="setup release" runs only the stages named (default all):
# setup packages release browser asan win32 digests fuzz; the later ones expect what
# the packages stage installs.
# When wine for 32-bit programs cannot be installed, the Windows module is
# still built, the tests that need wine are skipped and the last line says
# so; VEXLOR_REQUIRE_WINE=1 makes that a failure instead.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

stages=(setup packages release browser asan win32 digests fuzz)
jobs=$(nproc)
times=()

# The package scripts' own test, with stand-in apt-get and dpkg.
stage_setup() {
  bash tests/setup/setup_test.sh
}

# Everything the stages need, installed before the first build, so that a
# package that cannot be had stops the run at once. wine may be missing.
stage_packages() {
  vexlor_need "${VEXLOR_CORE_PACKAGES[@]}" "${VEXLOR_TOOL_PACKAGES[@]}" \
    "${VEXLOR_BROWSER_PACKAGES[@]}" "${VEXLOR_PACKAGING_PACKAGES[@]}" \
    "${VEXLOR_FUZZ_PACKAGES[@]}" "${VEXLOR_WIN32_PACKAGES[@]}" "${VEXLOR_FREI0R_PACKAGES[@]}"
  vexlor_want_wine || true
}

# Builds a native preset and runs its tests.
native() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}
stage_release() { native release; }
stage_asan() { native asan; }

# The editor's page in Debian's Chromium, driven by playwright-core, against
# the release build.
stage_browser() {
  bash tests/browser/run.sh build/release/cli/vexlor
}

# The plug-in module and its test programs, and under wine their tests, the
# dialog tests on a virtual display.
stage_win32() {
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j "$jobs"
  if ! vexlor_want_wine; then
    echo "skipped: the Windows module's tests (no wine32)"
    return 0
  fi
  # The test preset runs wine in this prefix, quietly.
  export WINEPREFIX="$PWD/build/wine" WINEDEBUG=-all
  # The first start of wine in a fresh prefix sets the prefix up, which takes a
  # while: done once here, bounded, and finished before the tests start. The
  # .NET and HTML runtimes are not needed, so wine does not offer to install them.
  WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 wineboot -i
  timeout 120 wineserver -w
  # One virtual display for all wine programs of the run; the dialog tests use it.
  xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset win32 -j "$jobs"
}

# The command-line tool and the plug-in module must make the same pixels.
stage_digests() {
  if ! vexlor_want_wine; then
    echo "skipped: the native and Windows frame digests (no wine32)"
    return 0
  fi
  export WINEPREFIX="$PWD/build/wine" WINEDEBUG=-all
  build/release/tests/vexlor_frame_digest > build/digest-native.txt
  timeout 300 wine build/win32/tests/vexlor_frame_digest.exe | tr -d '\r' > build/digest-win32.txt
  if [ ! -s build/digest-native.txt ]; then
    echo "test-all: the native frame digest program printed nothing" >&2
    exit 1
  fi
  diff build/digest-native.txt build/digest-win32.txt
  echo "frame digests: native and Windows builds agree on $(wc -l < build/digest-native.txt) frames"
}

# Each fuzz target for a bounded time on its seeds (scripts/fuzz.sh runs longer).
stage_fuzz() {
  bash scripts/fuzz.sh 30
}

# Runs one stage when VEXLOR_STAGES names it (or is unset), timed.
run() {
  local name=$1 start=$SECONDS
  [[ -z ${VEXLOR_STAGES:-} || " $VEXLOR_STAGES " == *" $name "* ]] || return 0
  echo "== $name"
  "stage_$name"
  echo "== $name: $((SECONDS - start)) s"
  times+=("$name $((SECONDS - start)) s")
}

read -ra wanted <<<"${VEXLOR_STAGES:-}"
for name in "${wanted[@]}"; do
  if [[ " ${stages[*]} " != *" $name "* ]]; then
    echo "test-all: no stage '$name' (the stages: ${stages[*]})" >&2
    exit 2
  fi
done
# The skip of the tests that need wine is the last word, even after a failure.
trap vexlor_wine_not_run EXIT
for name in "${stages[@]}"; do
  run "$name"
done
summary=$(printf '%s, ' "${times[@]}")
echo "stage times: ${summary%, }"
