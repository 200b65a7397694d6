# Installs the Debian packages the build and the tests need, when missing.
# Sourced by the other scripts; runs apt-get only for packages not installed.
vexlor_need() {
  local missing=()
  for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

VEXLOR_CORE_PACKAGES=(cmake make g++ libgtest-dev libbenchmark-dev libpng-dev pkg-config python3
                      libcpp-httplib-dev nlohmann-json3-dev)

# The browser test of vexlor serve's page: Chromium, node (with npm) for playwright-core,
# and ffmpeg for its test video.
VEXLOR_BROWSER_PACKAGES=(chromium nodejs ffmpeg)

# The fuzz targets: clang with libFuzzer and the sanitizer runtimes.
VEXLOR_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

# The Windows cross-build and its tests: mingw-w64, wine for 32-bit programs
# and a virtual X server for the dialog tests.
VEXLOR_WIN32_PACKAGES=(g++-mingw-w64-i686-posix wine wine32:i386 xvfb xauth)

# wine32 is an i386 package: enables that architecture once (vexlor_need then
# refreshes the package lists, since wine32 is still missing).
vexlor_need_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo dpkg --add-architecture i386
}
