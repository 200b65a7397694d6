#!/bin/sh
# Whole-process throughput of `vexlor stream` in Mpixel/s on a clip of 20
# frames of 1920x1080 made by make_clip.sh, for the programs that the clip
# benchmarks of vexlor_bench map, on one thread and on every core; ffmpeg's
# geq filter on the same frames, one thread, as a yardstick for the first two.
# Usage: stream_bench.sh VEXLOR [OTHER_VEXLOR]   (OTHER: a build to compare with)
set -eu
here=$(dirname "$0")
vexlor=$1
other=${2:-}
frames=20
size=1920x1080
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
clip=$work/clip.raw
"$here/make_clip.sh" "$clip" $frames $size
pixels=$((1920 * 1080 * frames))
cores=$(nproc)

# Seconds a command takes, best of $runs (three unless set).
best() {
  b=
  for _ in $(seq ${runs:-3}); do
    s=$(date +%s.%N)
    "$@" < "$clip" > /dev/null
    e=$(date +%s.%N)
    b=$(echo "$s $e ${b:-1e9}" | awk '{t = $2 - $1; print (t < $3 ? t : $3)}')
  done
  echo "$b"
}
rate() { echo "$1" | awk -v p=$pixels '{printf "%.0f", p / $1 / 1e6}'; }

run() {
  name=$1 program=$2
  line="$name"
  for bin in "$vexlor" $other; do
    for threads in 1 $cores; do
      t=$(best "$bin" stream --quiet --size $size --threads $threads "$program")
      line="$line | $(rate "$t")"
    done
  done
  echo "$line"
}

echo "program | 1 thread | $cores threads${other:+ | other: 1 thread | other: $cores threads} (Mpixel/s)"
run trig3 'rd=sin(rs+gs+bs);gd=cos(rs*gs*bs);bd=exp(rs-gs-bs);'
run gamma_luma 'y=(0.299*rs+0.587*gs+0.114*bs)^0.45;rd=y;gd=y;bd=y;'
run hsv 'mx=max(rs,gs,bs);mn=min(rs,gs,bs);d=mx-mn;h=if(d==0,0,if(mx==rs,(gs-bs)/d,if(mx==gs,2+(bs-rs)/d,4+(rs-gs)/d)))/6;rd=h-floor(h);gd=if(mx==0,0,d/mx);bd=mx;'
run scale 'rd=rs*0.5;gd=gs;bd=bs;'
run sin_all 'rd=sin(rs+gs+bs);gd=sin(gs*2+rs+bs);bd=sin(bs*3+rs+gs);'
run ten_statements 'l=0.3*rs+0.59*gs+0.11*bs;c=l-0.5;k=c*c*4;s=max(rs,gs,bs);m=min(rs,gs,bs);d=s-m;t=if(d>0.1,l,1-l);rd=t*rs+k;gd=t*gs+d;bd=med(rs,gs,bs)*t;'
run rand 'n=rand()*0.2-0.1;rd=rs+n;gd=gs+n;bd=bs+n;'

# geq computes in 0..255 per channel; the same functions of the channels /256.
geq() {
  runs=1 best ffmpeg -nostdin -v error -threads 1 -filter_threads 1 -f rawvideo -pix_fmt bgra -s $size \
    -i - -vf "format=gbrp,geq=$1" -f null -
}
echo "ffmpeg geq, 1 thread: trig3 $(rate "$(geq "r='256*sin((r(X,Y)+g(X,Y)+b(X,Y))/256)':g='256*cos(r(X,Y)*g(X,Y)*b(X,Y)/16777216)':b='256*exp((r(X,Y)-g(X,Y)-b(X,Y))/256)'")") Mpixel/s," \
  "gamma_luma $(rate "$(geq "r='256*pow((0.299*r(X,Y)+0.587*g(X,Y)+0.114*b(X,Y))/256,0.45)':g='256*pow((0.299*r(X,Y)+0.587*g(X,Y)+0.114*b(X,Y))/256,0.45)':b='256*pow((0.299*r(X,Y)+0.587*g(X,Y)+0.114*b(X,Y))/256,0.45)'")") Mpixel/s"
