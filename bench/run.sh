#!/usr/bin/env bash
# Times chronoreel against ffmpeg on the same jobs, alternating the two, and prints a
# markdown table of medians (seconds, frames per second, peak memory) and the ratio
# ffmpeg time / chronoreel time.
#
#   bench/run.sh [--chronoreel PATH] [--make-stills PATH] [--runs N] [--stills N]
#                [--size WxH] [--cases "a b c d scan mem"] [--mem-frames N]
#
#   a     same size, uncompressed ("DIB ")        c  640x480 MPEG-4, every frame a key frame
#   b     640x480 MJPEG                           d  640x480 H.264 (libx264), all key frames
#   scan  100,000 empty stills named by time, none in the window, against find | sort
#   mem   peak memory of 1,000 and of 10,000 frames of 1920x1080 stills into 640x480 MJPEG
#
# Defaults: build/chronoreel, build/make_stills (built when missing), 3 runs, 600 stills of
# 1280x720, cases "a b c d scan". Corpora are made once under bench/corpus (not in git).
# CHRONOREEL_COMPOSE_WORKERS=N in the environment sets chronoreel's compose threads.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
chronoreel=build/chronoreel
make_stills=
runs=3
count=600
size=1280x720
cases=${CASES:-"a b c d scan"}
mem_frames=10000
while [ $# -gt 0 ]; do
  case $1 in
    --chronoreel) chronoreel=$2; shift 2 ;;
    --make-stills) make_stills=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --stills) count=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --mem-frames) mem_frames=$2; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "bench: unknown option $1" >&2; exit 2 ;;
  esac
done
width=${size%x*}
height=${size#*x}
chronoreel=$(realpath "$chronoreel")
[ -x "$chronoreel" ] || { echo "bench: no chronoreel at $chronoreel (--chronoreel PATH)" >&2; exit 2; }
if [ -z "$make_stills" ]; then
  make_stills=$(dirname "$chronoreel")/make_stills
  [ -x "$make_stills" ] || cmake --build "$(dirname "$chronoreel")" --target make_stills >/dev/null
fi
make_stills=$(realpath "$make_stills")
command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is needed" >&2; exit 2; }
[ -x /usr/bin/time ] || { apt-get update -q >/dev/null && apt-get install -y -q time >/dev/null; }
# Runs never need a display: the automated path writes to standard error only.
unset DISPLAY WAYLAND_DISPLAY

work=$root/bench/corpus
stills=$work/stills-$count-${width}x$height
if [ ! -f "$stills/.done" ]; then
  rm -rf "$stills"
  "$make_stills" "$stills" "$count" "$width" "$height" 2026-12-08T06:00 60 >/dev/null
  touch "$stills/.done"
fi
runs_dir=$work/runs
rm -rf "$runs_dir"
mkdir -p "$runs_dir"

# One timed command: prints "seconds peak_kb cpu_seconds" (user + system, all threads). Exit status 1 is an early end of a run
# (the scan case ends so on purpose); anything else fails the benchmark.
timed() {
  local log=$runs_dir/time.log rc=0
  # The previous run's movie goes to disk first, so no run pays for another's writing.
  sync
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>"$runs_dir/stderr.log" || rc=$?
  if [ "$rc" -gt 1 ] || ! grep -q 'Elapsed (wall clock)' "$log"; then
    echo "bench: command failed ($rc): $*" >&2; cat "$runs_dir/stderr.log" "$log" >&2; exit 1
  fi
  local wall kb cpu
  wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}')
  kb=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
  cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$log")
  # m:ss.ss or h:mm:ss
  echo "$wall" | awk -F: -v kb="$kb" -v cpu="$cpu" '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.3f %d %s\n", s, kb, cpu }'
}

median() { sort -n | awk '{a[NR] = $1} END { if (NR % 2) print a[(NR + 1) / 2]; else printf "%.3f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# setup_file NAME STILLS HANDLER SIZEOPTION W H [QUALITY]
setup_file() {
  local tls=$runs_dir/$1.tls
  cat > "$tls" <<TLS
[General]
StillDirectory=$2
ImageFilter=*.jpg
TimeStampOption=1
TimeOption=0
DeleteOldImages=False
MovieSizeOption=$4
MovieSizeWidth=$5
MovieSizeHeight=$6
MovieFPS=24
OutputAVIPath=$runs_dir/$1-chronoreel.avi
PostGenerationShell=
[Compress]
Handler=$3
Quality=${7:-0}
KeyFrameEvery=1
TLS
  echo "$tls"
}

declare -A cr_cmd ff_cmd
mjpg=1196444237; fmp4=877677894; h264=875967048; dib=541215044
# Quoted: the pattern is ffmpeg's to expand, not the shell's.
glob="-framerate 24 -pattern_type glob -i '$stills/*.jpg'"
# Quality 7700 is the fixed quantiser 8, the same as ffmpeg's -q:v 8.
cr_cmd[a]="$chronoreel /a /i /f=$(setup_file a "$stills" $dib 0 0 0)"
ff_cmd[a]="ffmpeg -nostdin -loglevel error -y $glob -c:v rawvideo -pix_fmt bgr24 $runs_dir/a-ffmpeg.avi"
cr_cmd[b]="$chronoreel /a /i /f=$(setup_file b "$stills" $mjpg 1 640 480 7700)"
ff_cmd[b]="ffmpeg -nostdin -loglevel error -y $glob -vf scale=640:480 -c:v mjpeg -q:v 8 $runs_dir/b-ffmpeg.avi"
cr_cmd[c]="$chronoreel /a /i /f=$(setup_file c "$stills" $fmp4 1 640 480 7700)"
ff_cmd[c]="ffmpeg -nostdin -loglevel error -y $glob -vf scale=640:480 -c:v mpeg4 -q:v 8 -g 1 $runs_dir/c-ffmpeg.avi"
cr_cmd[d]="$chronoreel /a /i /f=$(setup_file d "$stills" $h264 1 640 480 0)"
ff_cmd[d]="ffmpeg -nostdin -loglevel error -y $glob -vf scale=640:480 -c:v libx264 -g 1 -pix_fmt yuv420p $runs_dir/d-ffmpeg.avi"

if [[ " $cases " == *" scan "* ]]; then
  scan=$work/scan-100000
  if [ ! -f "$scan/.done" ]; then
    rm -rf "$scan"
    "$make_stills" "$scan" 100000 64 64 2026-01-01T00:00 60 --empty >/dev/null
    touch "$scan/.done"
  fi
  tls=$runs_dir/scan.tls
  cat > "$tls" <<TLS
[General]
StillDirectory=$scan
ImageFilter=*.jpg
TimeStampOption=1
TimeOption=1
StartTimeOption=3
StartTimeAbsolute=10
StopTimeOption=3
StopTimeAbsolute=11
OutputAVIPath=$runs_dir/scan.avi
TLS
  cr_cmd[scan]="$chronoreel /a /i /f=$tls"
  ff_cmd[scan]="sh -c \"find $scan -name '*.jpg' | sort >/dev/null\""
fi

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '| case | chronoreel s | fps | MB | CPU s | ffmpeg s | fps | MB | CPU s | ratio |\n'
printf '|---|---|---|---|---|---|---|---|---|---|\n'
for c in $cases; do
  [ "$c" = mem ] && continue
  [ -n "${cr_cmd[$c]:-}" ] || { echo "bench: unknown case $c" >&2; exit 2; }
  cr_t=(); cr_m=(); cr_c=(); ff_t=(); ff_m=(); ff_c=()
  for ((r = 0; r < runs; r++)); do
    # Alternate which program goes first, so that neither always meets a warm cache.
    if ((r % 2 == 0)); then
      read -r t m u < <(eval timed "${cr_cmd[$c]}"); cr_t+=("$t"); cr_m+=("$m"); cr_c+=("$u")
      read -r t m u < <(eval timed "${ff_cmd[$c]}"); ff_t+=("$t"); ff_m+=("$m"); ff_c+=("$u")
    else
      read -r t m u < <(eval timed "${ff_cmd[$c]}"); ff_t+=("$t"); ff_m+=("$m"); ff_c+=("$u")
      read -r t m u < <(eval timed "${cr_cmd[$c]}"); cr_t+=("$t"); cr_m+=("$m"); cr_c+=("$u")
    fi
  done
  ct=$(printf '%s\n' "${cr_t[@]}" | median); ft=$(printf '%s\n' "${ff_t[@]}" | median)
  cm=$(printf '%s\n' "${cr_m[@]}" | median); fm=$(printf '%s\n' "${ff_m[@]}" | median)
  cu=$(printf '%s\n' "${cr_c[@]}" | median); fu=$(printf '%s\n' "${ff_c[@]}" | median)
  n=$count; [ "$c" = scan ] && n=100000
  awk -v c="$c" -v ct="$ct" -v ft="$ft" -v cm="$cm" -v fmm="$fm" -v cu="$cu" -v fu="$fu" -v n="$n" 'BEGIN {
    printf "| %s | %.2f | %.0f | %.0f | %.2f | %.2f | %.0f | %.0f | %.2f | %.2f |\n", c, ct, n / ct, cm / 1024, cu, ft, n / ft, fmm / 1024, fu, ft / ct }'
done

if [[ " $cases " == *" mem "* ]]; then
  # 1,000 distinct 1920x1080 stills; the long movie names each of them mem_frames / 1000
  # times through hard links (one minute apart), so the corpus costs 1,000 stills of disk.
  big=$work/stills-1000-1920x1080
  if [ ! -f "$big/.done" ]; then
    rm -rf "$big"
    "$make_stills" "$big" 1000 1920 1080 2026-12-08T00:00 60 >/dev/null
    touch "$big/.done"
  fi
  long=$work/links-$mem_frames-1920x1080
  if [ ! -f "$long/.done" ]; then
    rm -rf "$long"
    mkdir -p "$long"
    mapfile -t sources < <(ls "$big" | grep '\.jpg$' | sort)
    for ((i = 0; i < mem_frames; i++)); do
      name=$(date -u -d "@$((1893456000 + i * 60))" +%y%m%d%H%M%S).jpg
      ln "$big/${sources[i % ${#sources[@]}]}" "$long/$name"
    done
    touch "$long/.done"
  fi
  echo
  printf '| frames of 1920x1080 into 640x480 MJPEG | chronoreel s | fps | peak MB |\n|---|---|---|---|\n'
  for dir in "$big" "$long"; do
    n=$(ls "$dir" | grep -c '\.jpg$')
    tls=$(setup_file "mem-$n" "$dir" $mjpg 1 640 480 7700)
    read -r t m u < <(timed "$chronoreel" /a /i "/f=$tls")
    rm -f "$runs_dir/mem-$n-chronoreel.avi"
    awk -v n="$n" -v t="$t" -v m="$m" 'BEGIN { printf "| %d | %.2f | %.0f | %.1f |\n", n, t, n / t, m / 1024 }'
  done
fi
echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%Y-%m-%d)"
