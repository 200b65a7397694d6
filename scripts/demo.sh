#!/usr/bin/env bash
# Installs what is missing, builds the command-line tool, and filters the
# project's sample picture (or the PNG, PPM or JPEG picture given as $1) with a few
# example programs into build/demo/, printing the paths of the pictures made.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup.sh
vexlor_need "${VEXLOR_CORE_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target vexlor >/dev/null
vexlor=build/release/cli/vexlor
picture=${1:-samples/sample.png}
out=build/demo
mkdir -p "$out"

# name | apply options | program
effects=(
  "gray||y=0.299*rs+0.587*gs+0.114*bs;rd=y;gd=y;bd=y;"
  "sepia||y=0.299*rs+0.587*gs+0.114*bs;rd=y*1.07+0.08;gd=y*0.95+0.03;bd=y*0.75;"
  "negative||rd=255/256-rs;gd=255/256-gs;bd=255/256-bs;"
  "posterize||rd=floor(rs*4)/3;gd=floor(gs*4)/3;bd=floor(bs*4)/3;"
  "swap||rd=bs;gd=rs;bd=gs;"
  "grain||n=(rand()-0.5)*0.3;rd=rs+n;gd=gs+n;bd=bs+n;"
  "carries|--carry|rd=rs*3;gd=gs*3;bd=bs*3;"
)

echo "vexlor demo: $(realpath "$picture") filtered by example programs into"
for effect in "${effects[@]}"; do
  IFS='|' read -r name options program <<<"$effect"
  # shellcheck disable=SC2086  # options is zero or more words
  "$vexlor" apply --quiet $options "$program" "$picture" "$out/$name.png"
  echo "  $(realpath "$out/$name.png")"
  echo "      vexlor apply ${options:+$options }'$program' $picture $out/$name.png"
done
