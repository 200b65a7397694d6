#!/usr/bin/env bash
# Installs vexlor as a user would and checks what lands where: cmake --install
# into a temporary DESTDIR and another prefix, the installed binary, the manual
# page against every --help, the bash completion, the Debian package (contents,
# dependencies, install and removal in a scratch dpkg root). The zip for the
# host's users has its own test (zip_test.sh), run where the module is built.
#
#   install_test.sh SOURCE_DIR BUILD_DIR VERSION
set -uo pipefail
src=$1 build=$2 version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# shellcheck source=../check.sh
. "$(dirname "$0")/../check.sh"

# Fails with a message naming what differs.
expect_eq() {
  [ "$1" == "$2" ] || { printf 'expected: %s\n     got: %s\n' "$2" "$1"; return 1; }
}

# The files under a directory, relative to it, sorted.
files_under() { (cd "$1" && find . -type f -o -type l) | sed 's|^\./||' | sort; }

# ---- cmake --install into a DESTDIR, and with another prefix
root=$tmp/root
check "cmake --install into DESTDIR" env DESTDIR="$root" cmake --install "$build" --prefix /usr
installed_files=$(files_under "$root")
# The modules that the tool loads on demand (the video room, the editor).
modules=$(sed -n 's|^\(usr/lib[^ ]*/vexlor\)/vexlor-video\.so$|\1|p' <<<"$installed_files")
# Each of these is installed (other files may come with other features).
installs_all() {
  local file missing=()
  for file in usr/bin/vexlor usr/share/man/man1/vexlor.1.gz "$modules/vexlor-video.so" \
      "$modules/vexlor-serve.so" \
      usr/share/bash-completion/completions/vexlor usr/share/doc/vexlor/README.md \
      usr/share/doc/vexlor/LICENSE usr/share/doc/vexlor/copyright usr/lib/frei0r-1/vexlor.so; do
    grep -qxF "$file" <<<"$installed_files" || missing+=("$file")
  done
  [ ${#missing[@]} -eq 0 ] || { echo "not installed: ${missing[*]}"; return 1; }
}
check "installed files" installs_all
check "prefix settable" bash -c 'cmake --install "$1" --prefix "$2" >/dev/null && test -x "$2/bin/vexlor"' \
  _ "$build" "$tmp/opt"

vexlor=$root/usr/bin/vexlor
check "installed --version" expect_eq "$("$vexlor" --version)" "vexlor $version"

# A 2 x 1 picture: (128,64,32) and (0,255,10); the program swaps red and green
# and doubles blue.
printf 'P6\n2 1\n255\n\x80\x40\x20\x00\xff\x0a' > "$tmp/in.ppm"
check "installed apply" "$vexlor" apply --quiet 'rd=gs;gd=rs;bd=bs*2;' "$tmp/in.ppm" "$tmp/out.ppm"
check "apply output pixels" expect_eq "$(tail -c 6 "$tmp/out.ppm" | od -An -tx1 | tr -d ' \n')" \
  "408040ff0014"
# Pictures need no module: the tool maps none of FFmpeg's or the HTTP library's.
check "apply on a picture loads no module" bash -c '! LD_DEBUG=libs "$1" apply --quiet \
  "rd=gs;gd=rs;bd=bs;" "$2" "$3" 2>&1 | grep -E "libav|microhttpd|httplib|vexlor-"' \
  _ "$vexlor" "$tmp/in.ppm" "$tmp/out2.ppm"
# A video goes through the video module, found beside the installed tool.
printf 'YUV4MPEG2 W2 H2 F25:1 Ip A1:1 C444\nFRAME\n' > "$tmp/in.y4m"
head -c 12 /dev/zero >> "$tmp/in.y4m"
check "installed apply on a video" "$vexlor" apply --quiet 'rd=rs;gd=gs;bd=bs;' "$tmp/in.y4m" \
  "$tmp/out.y4m"
check "installed tool in another prefix finds its modules" "$tmp/opt/bin/vexlor" apply --quiet \
  'rd=rs;gd=gs;bd=bs;' "$tmp/in.y4m" "$tmp/out2.y4m"
# Without its module, a video gets one line that names the module, status 1.
cp "$vexlor" "$tmp/lonely"
missing_module() {
  local err status=0
  err=$("$tmp/lonely" apply --quiet 'rd=rs;gd=gs;bd=bs;' "$tmp/in.y4m" "$tmp/out3.y4m" 2>&1) ||
    status=$?
  expect_eq "$status $(wc -l <<<"$err")" "1 1" &&
    grep -q "vexlor-video.so, needed for videos, is missing" <<<"$err" && echo "$err"
}
check "a missing module is named" missing_module
# A module that is not a library is named with the loader's reason.
broken_module() {
  local err status=0
  mkdir -p "$tmp/broken"
  cp "$vexlor" "$tmp/broken/vexlor"
  echo "not a library" > "$tmp/broken/vexlor-video.so"
  err=$("$tmp/broken/vexlor" apply --quiet 'rd=rs;gd=gs;bd=bs;' "$tmp/in.y4m" "$tmp/out4.y4m" 2>&1) ||
    status=$?
  expect_eq "$status $(wc -l <<<"$err")" "1 1" &&
    grep -q "cannot load the module $tmp/broken/vexlor-video.so, needed for videos: " <<<"$err"
}
check "a broken module is named" broken_module

# ---- the manual page against every --help
gunzip -c "$root/usr/share/man/man1/vexlor.1.gz" > "$tmp/vexlor.1"
check "man page sets without warnings" bash -c \
  '! groff -man -Tascii -ww -z "$1" 2>&1 | grep .' _ "$tmp/vexlor.1"
# One continuous page, no bold or underline overstrikes.
groff -man -rcR=1 -Tascii -P-cbou "$tmp/vexlor.1" 2>/dev/null > "$tmp/vexlor.txt"

# The commands of the main help's command table.
commands=$("$vexlor" --help | awk '/^commands:$/ {on = 1; next} on && !/^ / {on = 0} on {print $1}')
check "commands listed" test -n "$commands"

# The options a help text names: its usage lines and the terms of its option
# table rows ("-s, --size WxH").
help_options() {
  "$vexlor" "$@" --help |
    awk '/^usage:/ {u = 1} u && /^$/ {u = 0} u {print}
         /^[A-Za-z][^:]*:$/ {sec = $0; next} /^$/ {sec = ""}
         sec ~ /option/ && /^ +-/ {t = $0; sub(/^ +/, "", t); sub(/  .*/, "", t); print t}' |
    grep -oE -- '(^|[][ |(])--?[A-Za-z][-A-Za-z0-9]*' | sed 's/^[][ |(]//' | sort -u
}

# The text of a command's subsection of the page (the whole page for "").
page_part() {
  if [ -z "$2" ]; then cat "$1"; return; fi
  awk -v c="   $2" '$0 == c {on = 1; next} on && match($0, /[^ ]/) && RSTART <= 4 {exit} on' "$1"
}

# Every option of the command's --help is in its part of the page.
options_in_page() {
  local page=$1 command=$2 option missing=()
  for option in $(help_options $command); do
    page_part "$page" "$command" |
      grep -qE -- "(^|[^-A-Za-z0-9])$option([^-A-Za-z0-9]|$)" || missing+=("$option")
  done
  [ ${#missing[@]} -eq 0 ] || { echo "missing from the page: ${missing[*]}"; return 1; }
}

check "man: main options" options_in_page "$tmp/vexlor.txt" ""
for command in $commands; do
  check "man: $command options in its section" options_in_page "$tmp/vexlor.txt" "$command"
done
check "man: sections" bash -c 'for s in NAME SYNOPSIS DESCRIPTION COMMANDS LANGUAGE "EXIT STATUS" \
  COPYRIGHT; do grep -qx "$s" "$1" || { echo "no $s"; exit 1; }; done' _ "$tmp/vexlor.txt"
check "man: language constants and quirks" bash -c 'for w in 3.14159265358 2.85 "fac(171)" \
  "2^3^2" "rd=rs *2;" "after the last ;"; do grep -qF -- "$w" "$1" || { echo "no $w"; exit 1; }
  done' _ "$tmp/vexlor.txt"
# The check itself notices an option the page lacks.
sed 's/--clamp/--clomp/' "$tmp/vexlor.txt" > "$tmp/broken.txt"
! options_in_page "$tmp/broken.txt" apply >/dev/null
check "man check catches a missing option" test $? -eq 0

# ---- bash completion
completion=$root/usr/share/bash-completion/completions/vexlor
# The completions bash offers for the words given, the last being completed.
complete_words() {
  (cd "$tmp" && bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _vexlor 2>/dev/null; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@") | sort
}
check "complete: commands" expect_eq "$(complete_words vexlor '')" \
  "$(printf '%s\n' $commands --help --version | sort)"
check "complete: apply --cl" expect_eq "$(complete_words vexlor apply --cl)" "--clamp"
for command in $commands; do
  check "complete: $command options" expect_eq "$(complete_words vexlor "$command" -)" \
    "$( (echo --help; help_options "$command") | sort -u)"
done
touch "$tmp/effect.vx"
check "complete: -f takes a file" expect_eq "$(complete_words vexlor check -f eff)" "effect.vx"
check "complete: --frame takes a number" expect_eq "$(complete_words vexlor apply --frame eff)" ""
check "complete: --format takes its words" expect_eq "$(complete_words vexlor apply --format j)" \
  "$(printf 'jpeg\njpg')"

# ---- the Debian package
check "cpack makes the .deb" bash -c 'cd "$1" && cpack -B "$2" >/dev/null' _ "$build" "$tmp/deb"
deb=$tmp/deb/vexlor_${version}_$(dpkg --print-architecture).deb
check "deb file name" test -f "$deb"
check "deb version" expect_eq "$(dpkg-deb -f "$deb" Version)" "$version"
check "deb contents equal the install" expect_eq \
  "$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./||' | sort)" \
  "$installed_files"
# Every library the binary and its modules link appears in Depends
# (dpkg-shlibdeps found it).
depends_cover_libraries() {
  local depends names soname package multiarch missing=()
  depends=$(dpkg-deb -f "$deb" Depends)
  # The package names alone, one a line.
  names=$(sed 's/ *([^)]*)//g; s/ *| */\n/g; s/, */\n/g' <<<"$depends")
  multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  for soname in $(for elf in "$vexlor" "$root/$modules"/*.so; do readelf -d "$elf"; done |
      sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u); do
    package=$(dpkg -S "*/$multiarch/$soname" 2>/dev/null | head -1 | cut -d: -f1)
    [ -n "$package" ] || { echo "no package has $soname"; return 1; }
    grep -qxF "$package" <<<"$names" || missing+=("$package ($soname)")
  done
  [ ${#missing[@]} -eq 0 ] || { echo "Depends: $depends"; echo "missing: ${missing[*]}"; return 1; }
}
check "deb depends on every linked library" depends_cover_libraries
check "deb copyright file" bash -c 'dpkg-deb --fsys-tarfile "$1" |
  tar -xOf - ./usr/share/doc/vexlor/copyright | cmp - "$2"' _ "$deb" "$src/docs/copyright"

# Every local file the installed README links to is in the package beside it.
readme_links_shipped() {
  local files link missing=()  # $1: the .deb
  files=$(dpkg-deb -c "$1" | awk '{print $NF}')
  for link in $(dpkg-deb --fsys-tarfile "$1" | tar -xOf - ./usr/share/doc/vexlor/README.md |
      grep -o '](\(docs\|host\)/[^)#]*' | cut -c3- | sort -u); do
    grep -qxF "./usr/share/doc/vexlor/$link" <<<"$files" || missing+=("$link")
  done
  [ ${#missing[@]} -eq 0 ] || { echo "not shipped: ${missing[*]}"; return 1; }
}
check "deb ships what its README links to" readme_links_shipped "$deb"

# Install and remove it in a scratch dpkg root: nothing is left behind.
admin=$tmp/dpkg/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/status" "$admin/available"
# The package's maintainer scripts (CPack's ldconfig call, added because the
# frei0r plug-in is a shared object under /usr/lib) run outside the scratch
# root, which has no shell, with a stand-in ldconfig that leaves the
# system's cache alone.
mkdir -p "$tmp/bin"
printf '#!/bin/sh\nexit 0\n' > "$tmp/bin/ldconfig"
chmod +x "$tmp/bin/ldconfig"
dpkg_root() {
  PATH="$tmp/bin:$PATH" dpkg --root="$tmp/dpkg" --log=/dev/null --force-depends \
    --force-not-root --force-script-chrootless "$@"
}
check "dpkg -i in a scratch root" dpkg_root -i "$deb"
check "dpkg -i installed the binary" test -x "$tmp/dpkg/usr/bin/vexlor"
check "dpkg -r vexlor" dpkg_root -r vexlor
check "dpkg -r removed every file" expect_eq "$(find "$tmp/dpkg" -path "$admin" -prune -o \
  \( -type f -o -type l \) -print)" ""

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
