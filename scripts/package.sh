#!/usr/bin/env bash
# Makes the packages from the source tree: the Debian package of the
# command-line tool (vexlor_VERSION_ARCH.deb, from the release build) and the
# zip for the host's users (vexlor-VERSION-win32.zip, from the win32 build).
#
#   bash scripts/package.sh [OUTDIR [deb] [zip]]
#
# OUTDIR defaults to build/packages; naming deb or zip makes only that one.
# Each build is configured when it is not yet, and only the targets that go
# into the package are built.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh

out=${1:-build/packages}
shift || true
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(deb zip)
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Configures the preset's build tree unless it is configured already.
configure() {
  [ -f "build/$1/CMakeCache.txt" ] || cmake --preset "$1" >/dev/null
}

# Runs cpack in a build tree, moves the package file into $out and prints
# its path; cpack's staging directory is removed.
pack() {
  local tree=$1 work file
  work=$(mktemp -d "$out/.cpack.XXXXXX")
  if ! (cd "$tree" && cpack -B "$work" >/dev/null); then
    rm -rf "$work"
    return 1
  fi
  for file in "$work"/*."$2"; do
    mv "$file" "$out/"
    echo "$out/$(basename "$file")"
  done
  rm -rf "$work"
}

for kind in "${kinds[@]}"; do
  case $kind in
    deb)
      # The frei0r plug-in's header: the package carries vexlor.so too.
      vexlor_need "${VEXLOR_CORE_PACKAGES[@]}" "${VEXLOR_FREI0R_PACKAGES[0]}"
      configure release
      cmake --build --preset release -j "$(nproc)" --target vexlor vexlor_docs vexlor_frei0r
      pack build/release deb ;;
    zip)
      # The cross compiler only: wine and Xvfb are for the tests.
      vexlor_need "${VEXLOR_WIN32_PACKAGES[0]}"
      configure win32
      cmake --build --preset win32 -j "$(nproc)" --target vexlor_module
      pack build/win32 zip ;;
    *)
      echo "package.sh: unknown package kind '$kind' (deb or zip)" >&2
      exit 2 ;;
  esac
done
