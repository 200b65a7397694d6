#!/usr/bin/env bash
# Runs vexlor.so in a real frei0r host and checks that the frames it makes
# are the colour bytes `vexlor apply` makes of the same clip: programs with
# and without the clamp option, with fr and rand(), a program that does not
# run (frames unchanged, one line on standard error) and, per host, what
# that host does differently (ffmpeg's milliseconds, MLT's keyframe strings,
# seeking and slices, GStreamer's properties).
#
#   hosts_test.sh ffmpeg|melt|gst VEXLOR_BINARY PLUGIN_SO
#
# The clip is made here: 10 frames of 64x48 FFV1 in gbrp, every step
# lossless, compared as raw gbrp.
set -uo pipefail
host=$1 vexlor=$(realpath "$2") plugin=$(realpath "$3")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
W=64 H=48 FRAMES=10
# shellcheck source=../check.sh
. "$(dirname "$0")/../check.sh"

# The hosts find the plug-in through FREI0R_PATH; GStreamer keeps its
# registry here, so that no cached scan of another build is used.
mkdir -p "$tmp/lib"
cp "$plugin" "$tmp/lib/vexlor.so"
export FREI0R_PATH=$tmp/lib GST_REGISTRY=$tmp/gst-registry.bin
cd "$tmp" || exit 1

# The programs: name | apply's options | program. The plug-in's clamp is off
# unless set, as the host plug-in's "Verify 0-1 limits": apply's --carry.
programs=(
  "rand-fr|--carry|n=rand();rd=rs+n*0.2;gd=gs*fr/9;bd=if(fr>5,bs,1-bs);"
  "clamp-rand|--clamp|t=rand()*2-0.5;rd=rs*1.6+t;gd=gs-0.3;bd=bs+fr/12;"
  "carry|--carry|rd=rs*3;gd=gs+gs;bd=-bs*rand();"
)
bad_program='rd=rs;gd=sine(gs);bd=bs;'

ffmpeg -v error -f lavfi -i "testsrc2=size=${W}x$H:rate=25" -frames:v $FRAMES -pix_fmt gbrp \
  -c:v ffv1 clip.mkv || exit 1

# A video file's frames as raw gbrp (the colour bytes only).
raw() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt gbrp -y "$2"; }
raw clip.mkv clip.raw || exit 1

# Fails unless two raw files hold the same bytes.
same() { cmp "$1" "$2" && [ -s "$1" ]; }

# `vexlor apply`'s frames of each program, the reference.
for entry in "${programs[@]}"; do
  IFS='|' read -r name options program <<<"$entry"
  # shellcheck disable=SC2086  # options are words
  "$vexlor" apply --quiet --no-warnings $options --codec ffv1 "$program" clip.mkv "ref-$name.mkv" &&
    raw "ref-$name.mkv" "ref-$name.raw" || { echo "vexlor apply failed for $name"; exit 1; }
done

# Fails unless the file's standard error has exactly one vexlor line saying
# the program does not run.
said_once() {
  local lines
  lines=$(grep -ac '^vexlor: the program does not run' "$1")
  [ "$lines" = 1 ] || { echo "expected one 'does not run' line, got $lines:"; cat "$1"; return 1; }
}

# The frames `count` from `first` of a raw file of the clip's size.
frames_of() {
  dd if="$1" bs=$((W * H * 3)) skip="$2" count="$3" status=none
}

# ---- ffmpeg: filter_params are the parameters in order, the time is in
# milliseconds (the default time unit finds that out).
ffmpeg_run() {
  local params=$1 out=$2
  printf '%s\n' "frei0r=vexlor:filter_params=$params" > graph.txt
  ffmpeg -v error -i clip.mkv -filter_script:v graph.txt -f rawvideo -pix_fmt gbrp -y "$out"
}
test_ffmpeg() {
  local entry name options program clamp
  for entry in "${programs[@]}"; do
    IFS='|' read -r name options program <<<"$entry"
    clamp=n; [ "$options" = --clamp ] && clamp=y
    check "ffmpeg $name" bash -c 'ffmpeg_run "$1" out.raw && same out.raw "$2"' _ \
      "'$program'|$clamp" "ref-$name.raw"
  done
  # The README's command line, the program in the filter graph itself.
  check "ffmpeg -vf with the program quoted" bash -c 'ffmpeg -v error -i clip.mkv -vf \
    "frei0r=vexlor:filter_params='"'"'rd=rs*3;gd=gs+gs;bd=-bs*rand();'"'"'" \
    -f rawvideo -pix_fmt gbrp -y out.raw && same out.raw ref-carry.raw'
  # Every parameter spelled out: frame rate and time unit given.
  check "ffmpeg all parameters" bash -c 'ffmpeg_run "$1" out.raw && same out.raw ref-rand-fr.raw' \
    _ "'${programs[0]##*|}'|n|25|ms|2"
  # At 30000/1001 frames per second fr still counts the frames.
  ffmpeg -v error -i clip.mkv -vf setpts=N/TB/30000*1001 -r 30000/1001 -c:v ffv1 clip30.mkv
  "$vexlor" apply --quiet --carry --codec ffv1 'rd=fr/16;gd=gs;bd=bs;' clip30.mkv ref30.mkv && raw ref30.mkv ref30.raw
  check "ffmpeg at 30000/1001" bash -c 'printf "%s\n" \
    "frei0r=vexlor:filter_params='"'"'rd=fr/16;gd=gs;bd=bs;'"'"'|n|30000/1001" > g30.txt &&
    ffmpeg -v error -i clip30.mkv -filter_script:v g30.txt -f rawvideo -pix_fmt gbrp -y out.raw &&
    same out.raw ref30.raw'
  # Without FREI0R_PATH, from the user's own frei0r folder as from Debian's.
  mkdir -p home/.frei0r-1/lib && cp lib/vexlor.so home/.frei0r-1/lib/
  check "ffmpeg finds it in ~/.frei0r-1/lib" bash -c 'env -u FREI0R_PATH HOME="$PWD/home" \
    bash -c "ffmpeg_run \"\$1\" out.raw" _ "$1" && same out.raw ref-carry.raw' _ \
    "'${programs[2]##*|}'"
  check "ffmpeg bad program: frames unchanged" bash -c 'ffmpeg_run "$1" out.raw 2>err.txt &&
    same out.raw clip.raw && said_once err.txt' _ "'$bad_program'"
  check "ffmpeg bad frame rate: frames unchanged" bash -c 'ffmpeg_run "$1" out.raw 2>err.txt &&
    same out.raw clip.raw && grep -q "^vexlor: frame rate .abc. is not" err.txt' _ \
    "'rd=0;gd=0;bd=0;'|n|abc"
}

# ---- melt: a profile of the clip's size and rate; MLT reads a string with
# '=' as keyframes, so the program goes in as 0="PROGRAM".
cat > profile <<PROFILE
description=test clip
frame_rate_num=25
frame_rate_den=1
width=$W
height=$H
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=$W
display_aspect_den=$H
colorspace=709
PROFILE
melt_run() {
  local out=$1
  shift
  melt -quiet -profile profile "$@" -consumer avformat:out.mkv vcodec=ffv1 pix_fmt=bgra \
    mlt_image_format=rgba an=1 >/dev/null && raw out.mkv "$out"
}
test_melt() {
  local entry name options program clamp
  for entry in "${programs[@]}"; do
    IFS='|' read -r name options program <<<"$entry"
    clamp=0; [ "$options" = --clamp ] && clamp=1
    check "melt $name" bash -c 'melt_run out.raw clip.mkv -filter frei0r.vexlor \
      "program=0=\"$1\"" clamp="$2" && same out.raw "$3"' _ "$program" "$clamp" "ref-$name.raw"
  done
  check "melt parameters by index" bash -c 'melt_run out.raw clip.mkv -filter frei0r.vexlor \
    "0=0=\"$1\"" 1=1 && same out.raw ref-clamp-rand.raw' _ "${programs[1]##*|}"
  # Seeking: frames 5 to 7, then 1 and 2, through one filter instance.
  cat > seek.mlt <<MLT
<mlt>
  <producer id="clip">
    <property name="resource">clip.mkv</property>
    <filter>
      <property name="mlt_service">frei0r.vexlor</property>
      <property name="program">0="${programs[0]##*|}"</property>
    </filter>
  </producer>
  <playlist id="seek">
    <entry producer="clip" in="5" out="7"/>
    <entry producer="clip" in="1" out="2"/>
  </playlist>
</mlt>
MLT
  { frames_of ref-rand-fr.raw 5 3; frames_of ref-rand-fr.raw 1 2; } > seek-ref.bin
  check "melt seeking out of order" bash -c 'melt_run out.raw seek.mlt &&
    cmp <(frames_of out.raw 0 5) seek-ref.bin'
  # Slices (the threads property): a program without rand() gives the same
  # pixels; one with rand() is told about.
  check "melt slices: same pixels without rand()" bash -c 'melt_run out.raw clip.mkv \
    -filter frei0r.vexlor "program=0=\"rd=rs*rs;gd=gs*fr/9;bd=1-bs;\"" threads=2 &&
    "$1" apply --quiet --carry --codec ffv1 "rd=rs*rs;gd=gs*fr/9;bd=1-bs;" clip.mkv ref-s.mkv &&
    raw ref-s.mkv ref-s.raw && same out.raw ref-s.raw' _ "$vexlor"
  check "melt bad program: frames unchanged" bash -c 'melt_run out.raw clip.mkv \
    -filter frei0r.vexlor "program=0=\"$1\"" 2>err.txt && same out.raw clip.raw &&
    said_once err.txt' _ "$bad_program"
  # A program given without 0="..." reaches the plug-in cut to its last
  # keyframe's value: said, not silently black.
  check "melt program cut by keyframes is told" bash -c 'melt_run out.raw clip.mkv \
    -filter frei0r.vexlor "program=rd=rs;gd=gs;bd=bs;" 2>err.txt &&
    grep -q "^vexlor: the program has no statement" err.txt'
  check "melt -query lists the parameters" bash -c 'melt -query filter=frei0r.vexlor 2>/dev/null |
    grep -q "title: frame rate"'
}

# ---- gst-launch: raw BGRA frames through the element; the time is the
# buffers' timestamps in seconds.
gst_run() {
  local out=$1
  shift
  gst-launch-1.0 -q filesrc location=clip.bgra blocksize=$((W * H * 4)) ! \
    rawvideoparse width=$W height=$H format=bgra framerate=25/1 ! \
    frei0r-filter-vexlor "$@" ! filesink location=out.bgra >/dev/null &&
    ffmpeg -v error -f rawvideo -pix_fmt bgra -s ${W}x$H -i out.bgra -f rawvideo -pix_fmt gbrp \
      -y "$out"
}
test_gst() {
  local entry name options program clamp
  ffmpeg -v error -i clip.mkv -f rawvideo -pix_fmt bgra -y clip.bgra
  for entry in "${programs[@]}"; do
    IFS='|' read -r name options program <<<"$entry"
    clamp=false; [ "$options" = --clamp ] && clamp=true
    check "gst $name" bash -c 'gst_run out.raw "program=$1" clamp="$2" && same out.raw "$3"' _ \
      "$program" "$clamp" "ref-$name.raw"
  done
  check "gst frame-rate, time-unit and max-threads" bash -c 'gst_run out.raw "program=$1" \
    frame-rate=25/1 time-unit=s max-threads=1 && same out.raw ref-rand-fr.raw' _ "${programs[0]##*|}"
  check "gst bad program: frames unchanged" bash -c 'gst_run out.raw "program=$1" 2>err.txt &&
    same out.raw clip.raw && said_once err.txt' _ "$bad_program"
  check "gst-inspect shows the properties" bash -c 'gst-inspect-1.0 frei0r-filter-vexlor |
    grep -q "frame-rate .*: Frames per second"'
}

export -f same raw said_once frames_of ffmpeg_run melt_run gst_run
export W H
case $host in
  ffmpeg) test_ffmpeg ;;
  melt) test_melt ;;
  gst) test_gst ;;
  *) echo "hosts_test.sh: no host '$host' (ffmpeg, melt or gst)"; exit 2 ;;
esac
echo "frei0r $host: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
