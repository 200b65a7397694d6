#!/bin/sh
# The cost of a render cut into pieces, in CPU seconds (user + system) and
# wall seconds, each the best of RUNS (default 3):
# 1. apply --frames on 100 frames at the end of a 60-second 720p H.264 clip
#    against the same 100 frames at its start (decoding begins at the key
#    frame before the range, so the two should be close);
# 2. apply on a 10-second 1080p H.264 clip (the filter copying the picture)
#    against ffmpeg's plain re-encode of it with libx264 at CRF 18.
# Usage: pieces_bench.sh VEXLOR [RUNS]
set -eu
vexlor=$1
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1280x720:rate=25 -t 60 \
  -c:v libx264 -preset veryfast "$work/720.mp4"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 \
  -c:v libx264 -preset veryfast "$work/1080.mp4"

# Prints "CPU WALL" of the best run of a command (by CPU time).
best() {
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%U %S %e' -o "$work/time" "$@" >/dev/null 2>&1
    awk '{ printf "%.2f %.2f\n", $1 + $2, $3 }' "$work/time"
  done | sort -n | head -n 1
}

program='rd=rs;gd=gs;bd=bs*abs(sin(fr/10));'
start=$(best "$vexlor" apply --quiet --no-warnings --frames 0-99 "$program" "$work/720.mp4" "$work/a.mp4")
end=$(best "$vexlor" apply --quiet --no-warnings --frames 1400-1499 "$program" "$work/720.mp4" "$work/b.mp4")
echo "720p frames 0-99:       $start (CPU s, wall s)"
echo "720p frames 1400-1499:  $end"
echo "$start $end" | awk '{ printf "end/start: %.2fx CPU, %.2fx wall\n", $3 / $1, $4 / $2 }'

ours=$(best "$vexlor" apply --quiet 'rd=rs;gd=gs;bd=bs;' "$work/1080.mp4" "$work/c.mp4")
theirs=$(best ffmpeg -nostdin -v error -y -i "$work/1080.mp4" -c:v libx264 -crf 18 "$work/d.mp4")
echo "1080p apply:            $ours"
echo "1080p ffmpeg -crf 18:   $theirs"
echo "$ours $theirs" | awk '{ printf "apply/ffmpeg: %.2fx CPU, %.2fx wall\n", $1 / $3, $2 / $4 }'
