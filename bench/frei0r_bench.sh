#!/bin/sh
# What the frei0r plug-in costs inside ffmpeg: seconds to filter a 1080p clip
# of 50 frames (FFV1 in, FFV1 out) through `-vf frei0r=vexlor`, through
# `vexlor apply`, and through ffmpeg's geq computing the same function, with
# ffmpeg's plain FFV1 re-encode (no filter) as the floor of all three, and
# its conversion to the plug-in's BGRA and back (what any frei0r filter
# costs) as the floor of the plug-in's.
# Usage: frei0r_bench.sh VEXLOR PLUGIN_DIR   (the build's cli/vexlor and frei0r/)
set -eu
vexlor=$1
export FREI0R_PATH=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
clip=$work/clip.mkv
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 50 -c:v ffv1 "$clip"

# Seconds a command takes, best of three.
best() {
  b=
  for _ in 1 2 3; do
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    e=$(date +%s.%N)
    b=$(echo "$s $e ${b:-1e9}" | awk '{t = $2 - $1; printf "%.2f", (t < $3 ? t : $3)}')
  done
  echo "$b"
}
ff() { ffmpeg -nostdin -v error -y -i "$clip" "$@" -c:v ffv1 "$work/out.mkv"; }

row() {
  name=$1 program=$2 geq=$3
  echo "| $name | $(best ff -vf "frei0r=vexlor:filter_params='$program'|n|25") |" \
    "$(best "$vexlor" apply --quiet "$program" "$clip" "$work/out.mkv" --codec ffv1) |" \
    "$(best ff -vf "format=gbrp,geq=$geq") |"
}

echo "plain re-encode, no filter: $(best ff) s; through BGRA, no filter: $(best ff -vf format=bgra) s"
echo "| program | ffmpeg -vf frei0r=vexlor | vexlor apply | ffmpeg geq |"
echo "|---|---|---|---|"
luma="0.299*r(X,Y)+0.587*g(X,Y)+0.114*b(X,Y)"
row scale 'rd=rs*0.5;gd=gs;bd=bs;' "r='r(X,Y)*0.5':g='g(X,Y)':b='b(X,Y)'"
row gamma_luma 'y=(0.299*rs+0.587*gs+0.114*bs)^0.45;rd=y;gd=y;bd=y;' \
  "r='256*pow(($luma)/256,0.45)':g='256*pow(($luma)/256,0.45)':b='256*pow(($luma)/256,0.45)'"
