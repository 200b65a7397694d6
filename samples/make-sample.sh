#!/usr/bin/env bash
# Makes samples/sample.png, the demo's picture, with vexlor itself: a ramp
# picture whose red and green bytes are each pixel's x and y is filtered by
# scene.vx, a program that draws a landscape from those coordinates.
# Usage: bash samples/make-sample.sh [VEXLOR]   (default: the release build)
set -euo pipefail
cd "$(dirname "$0")/.."
vexlor=${1:-build/release/cli/vexlor}
width=256 height=192
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

declare -a hex
for ((i = 0; i < 256; i++)); do printf -v 'hex[i]' '\\x%02x' "$i"; done
{
  printf 'P6\n%d %d\n255\n' "$width" "$height"
  for ((y = 0; y < height; y++)); do
    row=""
    for ((x = 0; x < width; x++)); do row+="${hex[x]}${hex[y]}\\x80"; done
    printf "$row"
  done
} >"$tmp/ramp.ppm"

"$vexlor" apply --quiet --clamp -f samples/scene.vx "$tmp/ramp.ppm" samples/sample.png
echo "samples/sample.png"
