#!/usr/bin/env bash
# Times chronoreel against ffmpeg on the same jobs, alternating the two, and prints a
# markdown table of medians (seconds, frames per second, peak memory) and the ratio
# ffmpeg time / chronoreel time.
#
#   bench/run.sh [runs=3] [stills=600] [width=1280] [height=720]
#   CASES="a b c d scan" bench/run.sh      # a subset
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-3}
count=${2:-600}
width=${3:-1280}
height=${4:-720}
cases=${CASES:-"a b c d scan"}

command -v /usr/bin/time >/dev/null || { apt-get update -q && apt-get install -y -q time; }
[ -x build/chronoreel ] && [ -x build/make_stills ] || scripts/build.sh build

work=bench/corpus
stills=$work/stills-$count-${width}x$height
if [ ! -d "$stills" ]; then
  ./build/make_stills "$stills" "$count" "$width" "$height" 2026-12-08T06:00 60 >/dev/null
fi
runs_dir=$work/runs
rm -rf "$runs_dir"
mkdir -p "$runs_dir"

# One timed command: prints "seconds peak_kb".
timed() {
  local log=$runs_dir/time.log
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>"$runs_dir/stderr.log" || {
    echo "bench: command failed: $*" >&2; cat "$runs_dir/stderr.log" >&2; exit 1; }
  local wall kb
  wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}')
  kb=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
  # m:ss.ss or h:mm:ss
  echo "$wall" | awk -F: -v kb="$kb" '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.3f %d\n", s, kb }'
}

median() { sort -n | awk '{a[NR] = $1} END { if (NR % 2) print a[(NR + 1) / 2]; else printf "%.3f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# setup_file NAME HANDLER SIZEOPTION W H [QUALITY]
setup_file() {
  local tls=$runs_dir/$1.tls
  cat > "$tls" <<TLS
[General]
StillDirectory=$root/$stills
ImageFilter=*.jpg
TimeStampOption=1
TimeOption=0
DeleteOldImages=False
MovieSizeOption=$3
MovieSizeWidth=$4
MovieSizeHeight=$5
MovieFPS=24
OutputAVIPath=$root/$runs_dir/$1-chronoreel.avi
PostGenerationShell=
[Compress]
Handler=$2
Quality=${6:-0}
KeyFrameEvery=1
TLS
  echo "$tls"
}

declare -A cr_cmd ff_cmd frames
mjpg=1196444237; fmp4=877677894; h264=875967048; dib=541215044
frames_all=$count

tls=$(setup_file a $dib 0 0 0)
cr_cmd[a]="build/chronoreel /a /i /f=$tls"
ff_cmd[a]="ffmpeg -loglevel error -y -framerate 24 -pattern_type glob -i $root/$stills/*.jpg -c:v rawvideo -pix_fmt bgr24 $runs_dir/a-ffmpeg.avi"
tls=$(setup_file b $mjpg 1 640 480 7500)
cr_cmd[b]="build/chronoreel /a /i /f=$tls"
ff_cmd[b]="ffmpeg -loglevel error -y -framerate 24 -pattern_type glob -i $root/$stills/*.jpg -vf scale=640:480 -c:v mjpeg -q:v 8 $runs_dir/b-ffmpeg.avi"
tls=$(setup_file c $fmp4 1 640 480 7500)
cr_cmd[c]="build/chronoreel /a /i /f=$tls"
ff_cmd[c]="ffmpeg -loglevel error -y -framerate 24 -pattern_type glob -i $root/$stills/*.jpg -vf scale=640:480 -c:v mpeg4 -q:v 8 -g 1 $runs_dir/c-ffmpeg.avi"
tls=$(setup_file d $h264 1 640 480 0)
cr_cmd[d]="build/chronoreel /a /i /f=$tls"
ff_cmd[d]="ffmpeg -loglevel error -y -framerate 24 -pattern_type glob -i $root/$stills/*.jpg -vf scale=640:480 -c:v libx264 -g 1 -pix_fmt yuv420p $runs_dir/d-ffmpeg.avi"

if [[ " $cases " == *" scan "* ]]; then
  scan=$work/scan-100000
  [ -d "$scan" ] || ./build/make_stills "$scan" 100000 64 64 2026-01-01T00:00 60 --empty >/dev/null
  tls=$runs_dir/scan.tls
  cat > "$tls" <<TLS
[General]
StillDirectory=$root/$scan
ImageFilter=*.jpg
TimeStampOption=1
TimeOption=1
StartTimeOption=3
StartTimeAbsolute=10
StopTimeOption=3
StopTimeAbsolute=11
OutputAVIPath=$root/$runs_dir/scan.avi
TLS
  cr_cmd[scan]="build/chronoreel /a /i /f=$tls"
  ff_cmd[scan]="sh -c \"find $root/$scan -name '*.jpg' | sort\""
fi

printf '| case | chronoreel s | chronoreel fps | chronoreel MB | ffmpeg s | ffmpeg fps | ffmpeg MB | ratio |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for c in $cases; do
  cr_t=(); cr_m=(); ff_t=(); ff_m=()
  for ((r = 0; r < runs; r++)); do
    read -r t m < <(eval timed "${cr_cmd[$c]}" || true)
    cr_t+=("$t"); cr_m+=("$m")
    read -r t m < <(eval timed "${ff_cmd[$c]}")
    ff_t+=("$t"); ff_m+=("$m")
  done
  ct=$(printf '%s\n' "${cr_t[@]}" | median); fm=$(printf '%s\n' "${ff_t[@]}" | median)
  cm=$(printf '%s\n' "${cr_m[@]}" | median); mm=$(printf '%s\n' "${ff_m[@]}" | median)
  n=$frames_all; [ "$c" = scan ] && n=100000
  awk -v c="$c" -v ct="$ct" -v ft="$fm" -v cm="$cm" -v fmm="$mm" -v n="$n" 'BEGIN {
    printf "| %s | %.2f | %.0f | %.0f | %.2f | %.0f | %.0f | %.2f |\n", c, ct, n / ct, cm / 1024, ft, n / ft, fmm / 1024, ft / ct }'
done
echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%Y-%m-%d)"
