# shellcheck shell=bash disable=SC2034  # the groups are used by the scripts that source this
# Installs the Debian packages the build and the tests need, when missing.
# Sourced by the other scripts; runs apt-get only for packages not installed.
#
# Package lists go stale now and then (one index in the middle of a mirror
# sync): a failing `apt-get update` is retried, then reported and the install
# goes on with the lists there are. A failing install is tried once more with
# the release's own suite preferred, where every architecture's package comes
# from one consistent list. Installed packages are never downgraded: no
# version is ever forced and the preferred suite ranks below installed ones.
#
# Settings: VEXLOR_APT_RETRIES (tries of `apt-get update`, default 3),
# VEXLOR_APT_RETRY_PAUSE (seconds between them, default 10), VEXLOR_APT_SUITE
# (the suite preferred on the second try, default the release's codename),
# VEXLOR_REQUIRE_WINE=1 (running 32-bit Windows programs under wine is a
# must, not a skip), VEXLOR_WINE32_LOADER (the wine32 loader that is tried,
# default /usr/lib/wine/wine).

VEXLOR_CORE_PACKAGES=(cmake make g++ libgtest-dev libbenchmark-dev libpng-dev pkg-config python3
  libavformat-dev libavcodec-dev libavfilter-dev libavutil-dev libswscale-dev libturbojpeg0-dev
  libjpeg62-turbo-dev libtiff-dev libwebp-dev libmicrohttpd-dev libcpp-httplib-dev nlohmann-json3-dev dpkg-dev groff-base unzip)

# Tests that compare our output with other tools or run cases in parallel, and
# the README's render over ssh (GNU parallel copies files with rsync; the test
# runs an sshd of its own).
VEXLOR_TOOL_PACKAGES=(ffmpeg parallel rsync openssh-client openssh-server)

# Browser tests: node may come from elsewhere (CI's image has its own), so
# Debian's is installed only when there is none.
VEXLOR_BROWSER_PACKAGES=(chromium)
command -v node >/dev/null 2>&1 || VEXLOR_BROWSER_PACKAGES+=(nodejs npm)

# Building the release archives and packages.
VEXLOR_PACKAGING_PACKAGES=(dpkg-dev file zip)

# Footage for the benchmarks (pictures large enough to time).
VEXLOR_BENCH_PACKAGES=(mate-backgrounds)

# The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
VEXLOR_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

# The Windows cross-builds, 32-bit and 64-bit (mingw-w64 is an amd64
# package).
VEXLOR_MINGW_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix)

# wine64, which runs the 64-bit module's tests on any x86-64 machine, and the
# virtual X server for the dialog tests.
VEXLOR_WINE64_PACKAGES=(wine64 xvfb xauth)

# Wine for 32-bit programs, which runs the 32-bit module's tests. wine32 is
# an i386 package, and runs only where the kernel runs 32-bit programs; where
# it cannot be had or cannot run, the module is still built.
VEXLOR_WINE32_PACKAGES=(wine wine32:i386)

# The frei0r plug-in: its header, and the three hosts its tests run.
VEXLOR_FREI0R_PACKAGES=(frei0r-plugins-dev ffmpeg melt gstreamer1.0-tools gstreamer1.0-plugins-base
  gstreamer1.0-plugins-bad)

# group | what needs it, for the message when one of its packages cannot be had
VEXLOR_PACKAGE_GROUPS=(
  "VEXLOR_CORE_PACKAGES|the build"
  "VEXLOR_TOOL_PACKAGES|the tests that compare with other tools"
  "VEXLOR_BROWSER_PACKAGES|the browser tests"
  "VEXLOR_PACKAGING_PACKAGES|the packaging"
  "VEXLOR_BENCH_PACKAGES|the benchmarks' footage"
  "VEXLOR_FUZZ_PACKAGES|the fuzz targets"
  "VEXLOR_MINGW_PACKAGES|the Windows module's build"
  "VEXLOR_WINE64_PACKAGES|the Windows module's 64-bit tests"
  "VEXLOR_WINE32_PACKAGES|the Windows module's 32-bit tests"
  "VEXLOR_FREI0R_PACKAGES|the frei0r plug-in and its hosts' tests"
)

# Installs every package given that is missing; when one cannot be had, says
# which and what needs it, one line each, and ends the script with status 1.
vexlor_need() {
  local missing=() culprits=() reasons=() pkg i
  mapfile -t missing < <(vexlor_missing "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  vexlor_install "${missing[@]}" && return 0
  if [ ${#missing[@]} -eq 1 ]; then
    culprits=("${missing[0]}") reasons=("$VEXLOR_APT_ERROR")
  else
    # The whole set failed: one at a time, to install the rest and name the culprits.
    for pkg in "${missing[@]}"; do
      vexlor_install "$pkg" || { culprits+=("$pkg"); reasons+=("$VEXLOR_APT_ERROR"); }
    done
    [ ${#culprits[@]} -eq 0 ] && return 0
  fi
  for i in "${!culprits[@]}"; do
    echo "setup: cannot install ${culprits[i]}, needed by" \
      "$(vexlor_needed_by "${culprits[i]}"): ${reasons[i]}" >&2
  done
  exit 1
}

# Whether wine runs 32-bit Windows programs here, installing wine32 when
# missing. First asks whether the machine runs 32-bit x86 programs at all,
# so that nothing is installed that could not run. Returns 1 when the
# 32-bit tests cannot run, with why in VEXLOR_WINE32_NOT_RUN (kept, so it is
# found out once a run); with VEXLOR_REQUIRE_WINE=1 that ends the script
# with status 1 instead.
vexlor_want_wine32() {
  [ -z "${VEXLOR_WINE32_NOT_RUN:-}" ] || return 1
  [ -z "${VEXLOR_WINE32_OK:-}" ] || return 0
  local why="" missing=()
  if ! vexlor_runs_i386; then
    why="this machine cannot run 32-bit programs ($VEXLOR_I386_ERROR)"
  else
    mapfile -t missing < <(vexlor_missing "${VEXLOR_WINE32_PACKAGES[@]}")
    if [ ${#missing[@]} -gt 0 ] && ! vexlor_install "${missing[@]}"; then
      why="wine32 could not be installed ($VEXLOR_APT_ERROR)"
    elif ! vexlor_wine32_starts; then
      why=$VEXLOR_WINE32_ERROR
    fi
  fi
  if [ -z "$why" ]; then
    VEXLOR_WINE32_OK=1
    return 0
  fi
  if [ "${VEXLOR_REQUIRE_WINE:-0}" = 1 ]; then
    echo "setup: the Windows module's 32-bit tests cannot run (VEXLOR_REQUIRE_WINE=1): $why" >&2
    exit 1
  fi
  VEXLOR_WINE32_NOT_RUN=$why
  echo "setup: $why: the 32-bit module is built, its tests are not run" >&2
  return 1
}

# Whether the kernel runs 32-bit x86 programs: assembles a program that only
# exits (binutils can, whatever is installed for i386) and runs it. Only the
# kernel's refusal, "Exec format error", counts as no (1, with the error in
# VEXLOR_I386_ERROR); a probe that cannot be made or run for another reason
# leaves the answer to the wine32 loader itself.
vexlor_runs_i386() {
  local dir status=0 err
  dir=$(mktemp -d)
  # shellcheck disable=SC2016  # assembly, not shell
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/exit.s"
  if as --32 -o "$dir/exit.o" "$dir/exit.s" 2>/dev/null &&
     ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>/dev/null; then
    err=$("$dir/exit" 2>&1) || status=$?
  fi
  rm -rf "$dir"
  if [ "$status" -ne 0 ] && [[ $err == *"Exec format error"* ]]; then
    VEXLOR_I386_ERROR="a 32-bit x86 program gets \"Exec format error\""
    return 1
  fi
  return 0
}

# Whether the installed wine32 loader starts; 1 with why in
# VEXLOR_WINE32_ERROR when not.
vexlor_wine32_starts() {
  local loader=${VEXLOR_WINE32_LOADER:-/usr/lib/wine/wine} err
  if err=$("$loader" --version 2>&1); then
    return 0
  fi
  err=$(head -1 <<<"$err")
  if [[ $err == *"Exec format error"* ]]; then
    VEXLOR_WINE32_ERROR="this machine cannot run 32-bit programs ($loader: Exec format error)"
  else
    VEXLOR_WINE32_ERROR="wine32 does not start ($loader --version: ${err:-no output})"
  fi
  return 1
}

# The closing line of a run that skipped the 32-bit module's tests.
vexlor_wine_not_run() {
  [ -n "${VEXLOR_WINE32_NOT_RUN:-}" ] || return 0
  echo "NOT RUN: the Windows module's 32-bit tests: $VEXLOR_WINE32_NOT_RUN"
}

# Prints, one a line, the packages given that dpkg does not list as installed
# (a removed package whose configuration files are left counts as missing).
vexlor_missing() {
  local pkg
  for pkg in "$@"; do
    grep -qx 'Status: [a-z]* ok installed' <<<"$(dpkg -s "$pkg" 2>/dev/null)" || echo "$pkg"
  done
}

# Says which part of the project needs a package, from the group table.
vexlor_needed_by() {
  local entry pkg
  for entry in "${VEXLOR_PACKAGE_GROUPS[@]}"; do
    local group="${entry%%|*}[@]"
    for pkg in "${!group}"; do
      if [ "$pkg" = "$1" ]; then
        echo "${entry#*|}"
        return
      fi
    done
  done
  basename "$0"
}

# Installs the packages given: enables the i386 architecture first when one
# of them is an i386 package, refreshes the lists once a run (again after a
# new architecture), then installs, and on failure tries once more with the
# release's suite preferred. On failure leaves apt-get's reason in
# VEXLOR_APT_ERROR and returns 1.
vexlor_install() {
  VEXLOR_APT_ERROR=""
  if [[ " $* " == *":i386 "* ]] &&
     ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
    if ! vexlor_apt dpkg --add-architecture i386; then
      VEXLOR_APT_ERROR="cannot enable the i386 architecture: $VEXLOR_APT_ERROR"
      return 1
    fi
    VEXLOR_APT_UPDATED=""
  fi
  [ -n "${VEXLOR_APT_UPDATED:-}" ] || vexlor_update
  echo "setup: installing $*" >&2
  local install=(apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600)
  vexlor_apt "${install[@]}" "$@" && return 0
  local suite=${VEXLOR_APT_SUITE:-$(vexlor_codename)}
  echo "setup: trying again with the $suite suite preferred" >&2
  vexlor_apt "${install[@]}" -t "$suite" "$@"
}

# Refreshes the package lists, retrying a few times; when every try fails,
# one warning line and the install goes on with the lists there are.
vexlor_update() {
  local tries=${VEXLOR_APT_RETRIES:-3} try
  for ((try = 1; try <= tries; try++)); do
    if vexlor_apt apt-get update -qq -o DPkg::Lock::Timeout=600 2>/dev/null; then
      VEXLOR_APT_UPDATED=1
      return 0
    fi
    if [ "$try" -lt "$tries" ]; then sleep "${VEXLOR_APT_RETRY_PAUSE:-10}"; fi
  done
  VEXLOR_APT_UPDATED=1
  echo "setup: warning: apt-get update failed $tries times ($VEXLOR_APT_ERROR);" \
    "going on with the package lists there are" >&2
}

# Runs a package command as root (through sudo when not root), its output to
# standard error as it comes; on failure keeps its first error line (without
# apt's "E: ") in VEXLOR_APT_ERROR.
vexlor_apt() {
  local sudo=() log status=0
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  log=$(mktemp)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "$@" 2>&1 | tee "$log" >&2 || status=$?
  if [ "$status" -ne 0 ]; then
    VEXLOR_APT_ERROR=$(sed -n 's/^E: //p' "$log" | head -1)
    [ -n "$VEXLOR_APT_ERROR" ] || VEXLOR_APT_ERROR="$1 exited with status $status"
  fi
  rm -f "$log"
  return "$status"
}

# The release's codename (bookworm on Debian 12), from os-release.
vexlor_codename() {
  local VERSION_CODENAME=""
  # shellcheck disable=SC1091  # the system's file
  [ -r /etc/os-release ] && . /etc/os-release
  echo "${VERSION_CODENAME:-bookworm}"
}
