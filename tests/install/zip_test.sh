#!/usr/bin/env bash
# Makes the zip for the host's users with scripts/package.sh, as a release
# does, and checks what it holds: both modules, each in the folder its host
# loads modules from, each the one its build made, of its machine type and
# carrying the version; README.txt saying which host takes which; the texts
# with Windows line ends. Run where the modules are built (the test command's
# win64 stage): package.sh builds the module in the win32 and win64 trees.
#
#   zip_test.sh SOURCE_DIR VERSION
set -uo pipefail
src=$1 version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=../check.sh
. "$(dirname "$0")/../check.sh"

# Fails with a message naming what differs.
expect_eq() {
  [ "$1" == "$2" ] || { printf 'expected: %s\n     got: %s\n' "$2" "$1"; return 1; }
}

check "package.sh makes the zip" bash "$src/scripts/package.sh" "$tmp/zip" zip
zip=$tmp/zip/vexlor-$version-windows.zip
check "zip file name" test -f "$zip"
check "zip listing" expect_eq "$(unzip -Z1 "$zip" | grep -v '/$' | sort)" "LICENSE.txt
README.txt
plugins/vexlor.vdf
plugins64/vexlor.vdf"

for text in README.txt LICENSE.txt; do
  unzip -p "$zip" "$text" > "$tmp/$text"
  check "$text has Windows line ends" expect_eq "$(grep -vc $'\r$' "$tmp/$text")" "0"
done
tr -d '\r' < "$tmp/README.txt" > "$tmp/readme"
check "README.txt names the version" grep -q "^vexlor $version " "$tmp/readme"
# The table that says which module goes with which host: the folder, then
# the kind of host, on one line each.
check "README.txt: plugins\\vexlor.vdf is for 32-bit hosts" \
  grep -qE '^ *plugins\\vexlor\.vdf +32-bit' "$tmp/readme"
check "README.txt: plugins64\\vexlor.vdf is for 64-bit hosts" \
  grep -qE '^ *plugins64\\vexlor\.vdf +64-bit' "$tmp/readme"
check "README.txt: the script line" grep -qF 'Config("<program>", <0 or 1>)' "$tmp/readme"
check "LICENSE.txt: MIT and notices" bash -c \
  'grep -q "^MIT License" "$1" && grep -q winpthreads "$1"' _ "$tmp/LICENSE.txt"

# Each module: the one its build made, of its machine type, with the version
# in its version resource.
for entry in "plugins win32 Intel 80386" "plugins64 win64 x86-64"; do
  read -r folder build machine <<<"$entry"
  unzip -p "$zip" "$folder/vexlor.vdf" > "$tmp/$build.vdf"
  check "$folder/vexlor.vdf is the $build module" \
    cmp "$tmp/$build.vdf" "$src/build/$build/bin/vexlor.vdf"
  check "$folder/vexlor.vdf is a $machine DLL" bash -c \
    'file -b "$1" | grep -q "(DLL).*$2"' _ "$tmp/$build.vdf" "$machine"
  check "$folder/vexlor.vdf carries the version" bash -c \
    'strings -el "$1" | grep -qx "$2"' _ "$tmp/$build.vdf" "$version"
done

echo "zip: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
