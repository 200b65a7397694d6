#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test.
# Each stage's line "== NAME" is followed by "== NAME: N s" when it is done.
# VEXLOR_STAGES="setup release" runs only the stages named (default all):
# setup packages release browser asan win32 win64 digests fuzz; the later ones
# expect what the packages stage installs.
# The 64-bit Windows module's tests run under wine64 on any x86-64 machine.
# Where 32-bit programs cannot run (or wine32 cannot be installed), the 32-bit
# module is still built, only what must run it is skipped, and the last line
# says so; VEXLOR_REQUIRE_WINE=1 makes that a failure instead.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

stages=(setup packages release browser asan win32 win64 digests fuzz)
jobs=$(nproc)
times=()
# The Windows builds: the wine loader that runs their programs (named, not
# /usr/bin/wine for 64-bit: that one picks wine32 when it is installed, even
# where it cannot run), and their wine prefixes.
declare -A wine_loader=([win32]=wine [win64]=/usr/lib/wine/wine64)
declare -A wine_prefix=([win32]=build/wine [win64]=build/wine64)
# Their tests passed, for the closing note.
declare -A windows_tests=()

# The package scripts' own test, with stand-in apt-get and dpkg.
stage_setup() {
  bash tests/setup/setup_test.sh
}

# Everything the stages need, installed before the first build, so that a
# package that cannot be had stops the run at once. wine may be missing.
stage_packages() {
  vexlor_need "${VEXLOR_CORE_PACKAGES[@]}" "${VEXLOR_TOOL_PACKAGES[@]}" \
    "${VEXLOR_BROWSER_PACKAGES[@]}" "${VEXLOR_PACKAGING_PACKAGES[@]}" \
    "${VEXLOR_FUZZ_PACKAGES[@]}" "${VEXLOR_MINGW_PACKAGES[@]}" "${VEXLOR_WINE64_PACKAGES[@]}" \
    "${VEXLOR_FREI0R_PACKAGES[@]}"
  vexlor_want_wine32 || true
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

# Builds the Windows preset $1 and runs its tests under wine in the build's
# prefix, on one virtual display for all wine programs of the run (the dialog
# tests use it). Notes how many passed, and how many of them drive the module
# (the rest test the core). With $2 "module-only" builds the module alone:
# its test programs would only take time where they cannot run.
windows() {
  local log=build/$1-ctest.log all module
  cmake --preset "$1" >/dev/null
  if [ "${2:-}" = module-only ]; then
    cmake --build --preset "$1" -j "$jobs" --target vexlor_module
    return 0
  fi
  cmake --build --preset "$1" -j "$jobs"
  WINEPREFIX="$PWD/${wine_prefix[$1]}" xvfb-run -a -s "-screen 0 1024x768x24" \
    bash tests/windows/ctest-under-wine.sh "$1" "${wine_loader[$1]}" | tee "$log"
  all=$(sed -n 's/.* 0 tests failed out of \([0-9]*\)$/\1/p' "$log")
  module=$(grep -cE ' (module|dialog)\..* Passed' "$log")
  windows_tests[$1]="$all passed under ${wine_loader[$1]##*/}, $module of them the module's"
}

# The 32-bit module always; its test programs and tests where 32-bit programs
# run.
stage_win32() {
  if vexlor_want_wine32; then
    windows win32
  else
    windows win32 module-only
    echo "skipped: the 32-bit module's tests ($VEXLOR_WINE32_NOT_RUN)"
  fi
}

# The 64-bit module and its tests under wine64, on any x86-64 machine; then
# the zip for the host's users, which holds both modules, made and checked.
stage_win64() {
  windows win64
  bash tests/install/zip_test.sh "$PWD" \
    "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win64/CMakeCache.txt)"
}

# Fails unless frame digest listing $1 has lines and each begins with a
# digest of 16 hexadecimal digits: a program that printed nothing, or a line
# without its digest, would otherwise pass as the same on both sides.
full_digests() {
  if [ ! -s "$1" ] || grep -qvE '^[0-9a-f]{16} ' "$1"; then
    echo "test-all: $1 is empty or has a line without a digest" >&2
    exit 1
  fi
}

# Compares a Windows frame digest listing ($2) with the native one ($1);
# fails on any difference and on a listing without digests.
same_digests() {
  full_digests "$2"
  diff "$1" "$2"
}

# The command-line tool and the plug-in modules must make the same pixels:
# the core of each Windows build (vexlor_frame_digest.exe) and the module
# itself, driven as the host drives it (vexlor_module_digest.exe), against
# the native tool's digests of the same frames. The 64-bit module always, the
# 32-bit one where 32-bit programs run; where both run, the script lines
# that each module saves must load in the other.
stage_digests() {
  local builds=(win64) build
  if vexlor_want_wine32; then
    builds+=(win32)
  else
    echo "skipped: the 32-bit module's frame digests and script lines ($VEXLOR_WINE32_NOT_RUN)"
  fi
  # The native digest program alone, so that the stage runs without the
  # release stage (a no-op after it).
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$jobs" --target vexlor_frame_digest
  build/release/tests/vexlor_frame_digest > build/digest-native.txt
  full_digests build/digest-native.txt
  # The module's listing has no generator state: digest, option and program.
  cut -d' ' -f1,3- build/digest-native.txt > build/digest-native-module.txt
  for build in "${builds[@]}"; do
    windows_run "$build" tests/vexlor_frame_digest.exe < /dev/null > "build/digest-$build.txt"
    same_digests build/digest-native.txt "build/digest-$build.txt"
    windows_run "$build" bin/vexlor_module_digest.exe < build/digest-native.txt \
      > "build/digest-$build-module.txt"
    same_digests build/digest-native-module.txt "build/digest-$build-module.txt"
    echo "frame digests: the native tool, the $build core and the $build module agree on" \
      "$(wc -l < build/digest-native.txt) frames"
  done
  if [ ${#builds[@]} -eq 2 ]; then
    script_lines win32 win64
    script_lines win64 win32
  fi
}

# Runs program $2 of Windows build $1 (a path in its build tree) under its
# wine, standard input and output passed through, line ends made Unix ones.
windows_run() {
  local build=$1 program=$2
  shift 2
  WINEPREFIX="$PWD/${wine_prefix[$build]}" WINEDEBUG=-all \
    timeout 300 "${wine_loader[$build]}" "build/$build/$program" "$@" | tr -d '\r'
}

# The script lines the module of build $1 saves load in the module of build
# $2 to the same records.
script_lines() {
  windows_run "$1" bin/vexlor_script_lines.exe save > "build/script-lines-$1.txt"
  windows_run "$2" bin/vexlor_script_lines.exe load < "build/script-lines-$1.txt"
  echo "script lines: saved by the $1 module, loaded by the $2 module to the same records"
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
# The Windows modules' test counts, then the skip of the 32-bit tests: the
# last word, even after a failure. Written to the run's standard output as it
# was at the start (descriptor 3): a command that fails inside a redirection
# leaves that redirection in place while the trap runs.
closing() {
  local preset
  for preset in win32 win64; do
    [ -z "${windows_tests[$preset]:-}" ] ||
      echo "Windows tests: $preset: ${windows_tests[$preset]}"
  done
  vexlor_wine_not_run
} >&3
exec 3>&1
trap closing EXIT
for name in "${stages[@]}"; do
  run "$name"
done
summary=$(printf '%s, ' "${times[@]}")
echo "stage times: ${summary%, }"
