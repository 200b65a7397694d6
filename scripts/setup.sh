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

VEXLOR_CORE_PACKAGES=(cmake make g++ libgtest-dev libbenchmark-dev libpng-dev pkg-config python3)
