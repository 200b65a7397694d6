#!/bin/sh
# What each command costs to start: the median wall time of 50 runs
# (hyperfine) and the number of shared libraries it maps (those the dynamic
# linker initialises, the modules a command opens included), for commands
# that need no video, for one 1080p picture and frame, and for `apply` on a
# 10-second 1080p H.264 clip (3 runs).
# Usage: start_bench.sh VEXLOR [OTHER_VEXLOR]   (OTHER: a build to compare with)
set -eu
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
size=1920x1080
"$here/make_clip.sh" "$work/frame.raw" 1 $size
ffmpeg -nostdin -v error -f rawvideo -pix_fmt bgra -s $size -i "$work/frame.raw" \
  -frames:v 1 "$work/photo.png"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=$size:rate=25" -t 10 \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p "$work/clip.mp4"

swap='rd=bs;gd=gs;bd=rs;'
gray='y=0.299*rs+0.587*gs+0.114*bs;rd=y;gd=y;bd=y;'
# name | runs | arguments after the binary (word-split; programs have no spaces)
cases="--version|50|--version
--help|50|--help
pixel|50|pixel $swap
test|50|test $swap
check|50|check $swap
apply picture|20|apply --quiet $gray $work/photo.png $work/out.png
stream frame|20|stream --quiet --size $size $gray
apply video|3|apply --quiet $gray $work/clip.mp4 $work/out.mp4"

# The libraries a run maps, counted from the dynamic linker's own account.
libraries() {
  # shellcheck disable=SC2086  # the arguments are words
  LD_DEBUG=libs "$@" < "$work/frame.raw" 2>&1 >/dev/null | grep -c 'calling init:'
}

# The median of a command's wall time in milliseconds.
median() {
  runs=$1
  shift
  hyperfine -N -w 2 -r "$runs" --input "$work/frame.raw" --export-json "$work/t.json" \
    -- "$*" >/dev/null 2>&1
  python3 -c 'import json,sys; print("%.1f" % (json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' \
    "$work/t.json"
}

printf '| command |'
for bin in "$@"; do printf ' %s ms | libraries |' "$bin"; done
printf '\n|---|'
for _ in "$@"; do printf -- '---|---|'; done
echo
echo "$cases" | while IFS='|' read -r name runs args; do
  printf '| %s |' "$name"
  for bin in "$@"; do
    # shellcheck disable=SC2086
    printf ' %s | %s |' "$(median "$runs" "$bin" $args)" "$(libraries "$bin" $args)"
  done
  echo
done
