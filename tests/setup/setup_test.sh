#!/usr/bin/env bash
# Tests scripts/setup.sh against stand-in apt-get, dpkg, sudo and sleep
# commands first on PATH: no network, nothing installed. The stand-ins keep
# the "installed" packages and architectures in a temporary folder, log every
# call, and fail the ways a stale package index makes the real ones fail:
#   FAKE_UPDATE_FAIL=1      `apt-get update` fails (an index mid-sync)
#   FAKE_BROKEN="P..."      a plain install of P fails, with -t SUITE it works
#   FAKE_BROKEN_ALWAYS="P"  an install of P fails either way (held broken)
#   FAKE_UNKNOWN="P..."     P is in no list at all
#   FAKE_CONFIG_FILES="P"   P was removed, its configuration files are left
# An install that fails installs nothing, as apt-get's does.
# shellcheck disable=SC2016  # each check is a string of code, run by eval
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin"

cat >"$tmp/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_STATE/log"
listed() { [[ " $2 " == *" $1 "* ]]; }
if [ "$1" = update ]; then
  if [ "${FAKE_UPDATE_FAIL:-0}" = 1 ]; then
    echo "E: Failed to fetch mirror/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
    exit 100
  fi
  exit 0
fi
[ "$1" = install ] || exit 100
shift
suite="" pkgs=()
while [ $# -gt 0 ]; do
  case $1 in
    -t) suite=$2; shift ;;
    -o) shift ;;
    -*) ;;
    *) pkgs+=("$1") ;;
  esac
  shift
done
for p in "${pkgs[@]}"; do
  if listed "$p" "${FAKE_UNKNOWN:-}" || { [[ $p == *:i386 ]] && ! grep -qx i386 "$FAKE_STATE/archs"; }; then
    echo "E: Unable to locate package $p" >&2
    exit 100
  fi
  if listed "$p" "${FAKE_BROKEN_ALWAYS:-}" || { [ -z "$suite" ] && listed "$p" "${FAKE_BROKEN:-}"; }; then
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100
  fi
done
printf '%s\n' "${pkgs[@]}" >>"$FAKE_STATE/installed"
EOF

cat >"$tmp/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case $1 in
  -s)
    if grep -qxF -- "$2" "$FAKE_STATE/installed"; then
      printf 'Package: %s\nStatus: install ok installed\n' "$2"
    elif [[ " ${FAKE_CONFIG_FILES:-} " == *" $2 "* ]]; then
      printf 'Package: %s\nStatus: deinstall ok config-files\n' "$2"
    else
      echo "dpkg-query: package '$2' is not installed" >&2
      exit 1
    fi ;;
  --print-foreign-architectures) cat "$FAKE_STATE/archs" ;;
  --add-architecture) echo "dpkg $*" >>"$FAKE_STATE/log"; echo "$2" >>"$FAKE_STATE/archs" ;;
  *) exit 2 ;;
esac
EOF

printf '#!/bin/sh\nexec "$@"\n' >"$tmp/bin/sudo"
cat >"$tmp/bin/sleep" <<'EOF'
#!/bin/sh
echo "sleep $*" >>"$FAKE_STATE/log"
EOF
chmod +x "$tmp/bin/"*
export PATH="$tmp/bin:$PATH" VEXLOR_APT_SUITE=bookworm VEXLOR_APT_RETRY_PAUSE=7
unset VEXLOR_APT_RETRIES VEXLOR_REQUIRE_WINE VEXLOR_WINE_MISSING VEXLOR_APT_UPDATED

passed=0 failed=0

# Runs shell code with setup.sh sourced, in a fresh state with the packages
# of $1 installed; its output goes to $out, its status to $status.
scenario() {
  export FAKE_STATE="$tmp/state"
  rm -rf "$FAKE_STATE"
  mkdir "$FAKE_STATE"
  local pkgs
  read -ra pkgs <<<"$1"
  printf '%s\n' "${pkgs[@]}" >"$FAKE_STATE/installed"
  : >"$FAKE_STATE/archs"
  : >"$FAKE_STATE/log"
  out="$tmp/out"
  status=0
  bash -c "set -euo pipefail; . '$root/scripts/setup.sh'; $2" >"$out" 2>&1 || status=$?
}

# Counts the lines of the stand-ins' log that match an extended regex.
calls() { grep -cE -- "$1" "$FAKE_STATE/log"; }
installed() { grep -qxF -- "$1" "$FAKE_STATE/installed"; }

# Records one named check: passes when the condition given runs true.
check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name (exit $status)"
    sed 's/^/  output: /' "$out"
    sed 's/^/  calls:  /' "$FAKE_STATE/log"
  fi
}

all() { local c; for c in "$@"; do eval "$c" || return 1; done; }

# An index that stays stale: three tries with the pause between them, one
# warning with apt's reason, and the install goes on.
FAKE_UPDATE_FAIL=1 scenario "" 'vexlor_need cmake; echo after'
check "update retried, then a warning" all \
  '[ "$status" -eq 0 ]' '[ "$(calls "^apt-get update")" -eq 3 ]' \
  '[ "$(calls "^sleep 7$")" -eq 2 ]' \
  '[ "$(grep -c "warning" "$out")" -eq 1 ]' \
  'grep -q "warning: apt-get update failed 3 times (Failed to fetch .*Mirror sync in progress?)" "$out"' \
  'installed cmake' 'tail -1 "$out" | grep -qx after'

# dpkg decides: nothing installed twice, no apt-get at all when nothing is
# missing, and a package removed down to its configuration files is missing.
scenario "cmake make" 'vexlor_need cmake make'
check "nothing missing, no apt-get" all '[ "$status" -eq 0 ]' '[ ! -s "$FAKE_STATE/log" ]'
FAKE_CONFIG_FILES=g++ scenario "cmake" 'vexlor_need cmake g++'
check "only the missing installed" all '[ "$status" -eq 0 ]' \
  '[ "$(calls "^apt-get install")" -eq 1 ]' 'calls "^apt-get install.* g\+\+$" >/dev/null' \
  '! calls "install.*cmake" >/dev/null'

# Held broken packages on the plain install: once more with the release's
# suite preferred, which works; nothing forces a version or a downgrade.
FAKE_BROKEN="libpng-dev" scenario "" 'vexlor_need cmake libpng-dev'
check "fallback to -t bookworm" all '[ "$status" -eq 0 ]' \
  '[ "$(calls "^apt-get install")" -eq 2 ]' \
  '[ "$(calls "^apt-get install .* -t bookworm cmake libpng-dev$")" -eq 1 ]' \
  'installed libpng-dev' '! calls downgrade >/dev/null'

# wine32 needs the i386 architecture: enabled once, the lists refreshed after
# it (a second update in the run), later needs refresh nothing.
FAKE_BROKEN="wine32:i386" scenario "" \
  'vexlor_need cmake; vexlor_want_wine; vexlor_need make; vexlor_want_wine; vexlor_wine_not_run'
check "i386 enabled once, wine installed" all '[ "$status" -eq 0 ]' \
  '[ "$(calls "^dpkg --add-architecture i386$")" -eq 1 ]' \
  '[ "$(calls "^apt-get update")" -eq 2 ]' \
  'installed wine32:i386' '! grep -q "NOT RUN" "$out"'

# wine cannot be had either way: a skip said at the time and in the closing
# line, tried once a run, status 0; with VEXLOR_REQUIRE_WINE=1 a failure.
skip='vexlor_want_wine || echo skipped; vexlor_want_wine || echo skipped; vexlor_wine_not_run'
FAKE_BROKEN_ALWAYS="wine32:i386" scenario "" "$skip"
check "wine skipped, said out loud" all '[ "$status" -eq 0 ]' \
  '[ "$(grep -c skipped "$out")" -eq 2 ]' '[ "$(calls "^apt-get install")" -eq 2 ]' \
  '[ "$(tail -1 "$out")" = "NOT RUN: the Windows module'\''s tests: wine32 could not be installed (Unable to correct problems, you have held broken packages.)" ]'
VEXLOR_REQUIRE_WINE=1 FAKE_BROKEN_ALWAYS="wine32:i386" scenario "" "$skip"
check "VEXLOR_REQUIRE_WINE=1 fails" all '[ "$status" -eq 1 ]' '! grep -q "skipped\|NOT RUN" "$out"' \
  'grep -qx "setup: cannot install wine wine32:i386, needed by the Windows module.s tests (VEXLOR_REQUIRE_WINE=1): Unable to correct problems, you have held broken packages." "$out"'

# A core package in no list: the rest is installed, one line names it and
# what needs it, and the script stops with status 1.
FAKE_UNKNOWN="libpng-dev" scenario "" 'vexlor_need cmake libpng-dev make; echo after'
check "a core package missing stops" all '[ "$status" -eq 1 ]' \
  '[ "$(grep -c "^setup: cannot install" "$out")" -eq 1 ]' \
  'grep -qx "setup: cannot install libpng-dev, needed by the build: Unable to locate package libpng-dev" "$out"' \
  'installed cmake' 'installed make' '! grep -qx after "$out"'

FAKE_UNKNOWN="libgtest-dev" scenario "" 'vexlor_need libgtest-dev'
check "a lone package missing: two tries" all '[ "$status" -eq 1 ]' \
  '[ "$(calls "^apt-get install")" -eq 2 ]' \
  'grep -qx "setup: cannot install libgtest-dev, needed by the build: Unable to locate package libgtest-dev" "$out"'

# The test command without wine32: the stages that need it say they are
# skipped, the closing line says why, and the run passes (or fails, if
# wine is required). Every other package is installed already.
all_but_wine='printf "%s\n" "${VEXLOR_CORE_PACKAGES[@]}" "${VEXLOR_TOOL_PACKAGES[@]}" \
  "${VEXLOR_BROWSER_PACKAGES[@]}" "${VEXLOR_PACKAGING_PACKAGES[@]}" "${VEXLOR_FUZZ_PACKAGES[@]}" \
  "${VEXLOR_WIN32_PACKAGES[@]}" "${VEXLOR_FREI0R_PACKAGES[@]}" >"$FAKE_STATE/installed"
  VEXLOR_STAGES="packages digests" bash "'$root'/scripts/test-all.sh"'
FAKE_BROKEN_ALWAYS="wine32:i386" scenario "" "$all_but_wine"
check "test-all skips what needs wine" all '[ "$status" -eq 0 ]' \
  'grep -qx "skipped: the native and Windows frame digests (no wine32)" "$out"' \
  '[ "$(tail -1 "$out")" = "NOT RUN: the Windows module'\''s tests: wine32 could not be installed (Unable to correct problems, you have held broken packages.)" ]'
VEXLOR_REQUIRE_WINE=1 FAKE_BROKEN_ALWAYS="wine32:i386" scenario "" "$all_but_wine"
check "test-all requires wine when told" all '[ "$status" -eq 1 ]' '! grep -q "^== digests" "$out"'

echo "setup: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
