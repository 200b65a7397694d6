#!/bin/sh
# Makes a benchmark clip of raw 32-bit frames (bytes B, G, R, X, top line
# first), the input of `vexlor stream`: a photograph of the nature pictures
# that Debian's mate-backgrounds installs, with a slow zoom and pan so that
# colours change between frames, compressed as H.264 like real footage and
# decoded again.
# Usage: make_clip.sh OUT.raw [FRAMES [WIDTHxHEIGHT [PICTURE]]]
set -eu
out=$1
frames=${2:-20}
size=${3:-1920x1080}
picture=${4:-/usr/share/backgrounds/mate/nature/Dune.jpg}
width=${size%x*}
[ -r "$picture" ] || { echo "make_clip.sh: no picture $picture (package mate-backgrounds)" >&2; exit 1; }
ffmpeg -nostdin -v error -loop 1 -framerate 25 -i "$picture" \
  -vf "scale=$((width * 3 / 2)):-2,zoompan=z='1+0.003*on':x='(iw-iw/zoom)/2+on*6':y='(ih-ih/zoom)/2':d=1:s=$size:fps=25" \
  -frames:v "$frames" -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -f matroska - |
  ffmpeg -nostdin -v error -f matroska -i - -f rawvideo -pix_fmt bgra - > "$out"
