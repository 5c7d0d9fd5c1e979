#!/usr/bin/env bash
# Times chronoreel against ffmpeg on the same jobs, alternating the two, and prints a
# markdown table of medians (seconds, frames per second, peak memory) and the ratio
# ffmpeg time / chronoreel time; for the 1080p cases also each movie's size and its SSIM
# against the stills.
#
#   bench/run.sh [--chronoreel PATH] [--make-stills PATH] [--runs N] [--stills N]
#                [--size WxH] [--cases "a b c d scan mem e f g flat"] [--mem-frames N]
#                [--photos DIR]
#
#   a     same size, uncompressed ("DIB ")        c  640x480 MPEG-4, every frame a key frame
#   b     640x480 MJPEG                           d  640x480 H.264 (libx264), all key frames
#   scan  100,000 empty stills named by time, none in the window, against find | sort
#   mem   peak memory of 1,000 and of 10,000 frames of 1920x1080 stills into 640x480 MJPEG
#   e     600 photo stills of 2560x1440 into a 1920x1080 H.264 MP4 (CRF 23, key frames the
#         encoder's own: 250 at 25 fps)
#   f     300 photo stills of 3840x2160 into a 1920x1080 MJPEG AVI (quantiser 8)
#   g     the stills of (e) into a 1920x1080 H.265 MP4 (CRF 28)
#   flat  peak memory of (e) and (g) with 600 and with 1,200 frames (hard links)
#
# Defaults: build/chronoreel, build/make_stills (built when missing), 3 runs (5 for e, f
# and g), 600 stills of 1280x720, cases "a b c d scan". Corpora are made once under
# bench/corpus (not in git); the photo stills of e, f and g are made by
# make-photo-stills.sh into DIR/photo-2560x1440 (600) and DIR/photo-3840x2160 (300),
# DIR = --photos (default bench/corpus).
# CHRONOREEL_COMPOSE_WORKERS=N in the environment sets chronoreel's compose threads.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
chronoreel=build/chronoreel
make_stills=
runs=
count=600
size=1280x720
cases=${CASES:-"a b c d scan"}
mem_frames=10000
photos=
while [ $# -gt 0 ]; do
  case $1 in
    --chronoreel) chronoreel=$2; shift 2 ;;
    --make-stills) make_stills=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --stills) count=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --cases) cases=$2; shift 2 ;;
    --mem-frames) mem_frames=$2; shift 2 ;;
    --photos) photos=$2; shift 2 ;;
    -h|--help) sed -n '2,28p' "$0"; exit 0 ;;
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

# setup_file NAME STILLS HANDLER SIZEOPTION W H [QUALITY] [FPS] [EXTENSION] [KEYFRAMEEVERY]
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
MovieFPS=${8:-24}
OutputAVIPath=$runs_dir/$1-chronoreel.${9:-avi}
PostGenerationShell=
[Compress]
Handler=$3
Quality=${7:-0}
KeyFrameEvery=${10:-1}
TLS
  echo "$tls"
}

declare -A cr_cmd ff_cmd cr_movie ff_movie case_runs case_frames
mjpg=1196444237; fmp4=877677894; h264=875967048; dib=541215044; hevc=1129727304
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

declare -A case_stills
photos=${photos:-$work}
# x264 and x265 get the same options from both programs: the CRF, the key-frame spacing,
# and otherwise their own defaults.
need_photos() {
  local dir=$photos/photo-$1
  if [ "$(find "$dir/" -maxdepth 1 -name '*.jpg' 2>/dev/null | wc -l)" -ne "$2" ]; then
    echo "bench: case $3 needs $2 stills of $1 in $dir (make-photo-stills.sh $dir $2 $1, or --photos DIR)" >&2
    exit 2
  fi
  realpath "$dir"
}
# ffmpeg -i frames/*.jpg at 25 frames per second, scaled to 1920x1080 as ffmpeg scales by default.
photo_input() { echo "-framerate 25 -pattern_type glob -i '$1/*.jpg' -vf scale=1920:1080"; }
for c in e f g; do
  [[ " $cases " == *" $c "* ]] || continue
  case $c in
    e|g) dir=$(need_photos 2560x1440 600 $c); case_frames[$c]=600 ;;
    f) dir=$(need_photos 3840x2160 300 $c); case_frames[$c]=300 ;;
  esac
  case_stills[$c]=$dir; case_runs[$c]=5
done
if [ -n "${case_stills[e]:-}" ]; then
  # Quality 5491 is CRF 23, x264's own default.
  cr_cmd[e]="$chronoreel /a /i /f=$(setup_file e "${case_stills[e]}" $h264 1 1920 1080 5491 25 mp4 0)"
  ff_cmd[e]="ffmpeg -nostdin -loglevel error -y $(photo_input "${case_stills[e]}") -c:v libx264 -crf 23 -g 250 -pix_fmt yuv420p -movflags +faststart $runs_dir/e-ffmpeg.mp4"
  cr_movie[e]=$runs_dir/e-chronoreel.mp4; ff_movie[e]=$runs_dir/e-ffmpeg.mp4
fi
if [ -n "${case_stills[f]:-}" ]; then
  # Quality 7700 is the fixed quantiser 8; both programs make 4:2:0 pictures.
  cr_cmd[f]="$chronoreel /a /i /f=$(setup_file f "${case_stills[f]}" $mjpg 1 1920 1080 7700 25 avi)"
  ff_cmd[f]="ffmpeg -nostdin -loglevel error -y $(photo_input "${case_stills[f]}") -c:v mjpeg -q:v 8 -pix_fmt yuvj420p $runs_dir/f-ffmpeg.avi"
  cr_movie[f]=$runs_dir/f-chronoreel.avi; ff_movie[f]=$runs_dir/f-ffmpeg.avi
fi
if [ -n "${case_stills[g]:-}" ]; then
  # Quality 4510 is CRF 28, x265's own default.
  cr_cmd[g]="$chronoreel /a /i /f=$(setup_file g "${case_stills[g]}" $hevc 1 1920 1080 4510 25 mp4 0)"
  ff_cmd[g]="ffmpeg -nostdin -loglevel error -y $(photo_input "${case_stills[g]}") -c:v libx265 -crf 28 -g 250 -x265-params log-level=error -pix_fmt yuv420p -movflags +faststart $runs_dir/g-ffmpeg.mp4"
  cr_movie[g]=$runs_dir/g-chronoreel.mp4; ff_movie[g]=$runs_dir/g-ffmpeg.mp4
fi
movie_mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1048576 }'; }
# SSIM (all planes) of a movie against its stills, both as 4:2:0; the stills are scaled to
# the movie's 1920x1080 by one method (Lanczos, accurate rounding) for every program.
ssim() {
  ffmpeg -nostdin -hide_banner -loglevel info -i "$1" -framerate 25 -pattern_type glob -i "$2/*.jpg" \
    -lavfi "[0:v]format=yuv420p[m];[1:v]scale=1920:1080:flags=lanczos+accurate_rnd+full_chroma_int,format=yuv420p[r];[m][r]ssim" \
    -f null - 2>&1 | sed -n 's/.*SSIM .* All:\([0-9.]*\).*/\1/p' | tail -n 1
}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '| case | chronoreel s | fps | MB | CPU s | movie MB | SSIM | ffmpeg s | fps | MB | CPU s | movie MB | SSIM | ratio |\n'
printf '|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n'
for c in $cases; do
  [ "$c" = mem ] || [ "$c" = flat ] && continue
  [ -n "${cr_cmd[$c]:-}" ] || { echo "bench: unknown case $c" >&2; exit 2; }
  cr_t=(); cr_m=(); cr_c=(); ff_t=(); ff_m=(); ff_c=()
  n_runs=${runs:-${case_runs[$c]:-3}}
  for ((r = 0; r < n_runs; r++)); do
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
  n=${case_frames[$c]:-$count}; [ "$c" = scan ] && n=100000
  # The movies of the last runs: their size, and for the photo cases their likeness to
  # the stills.
  cs=-; fs=-; cq=-; fq=-
  if [ -n "${cr_movie[$c]:-}" ]; then
    cs=$(movie_mb "${cr_movie[$c]}"); fs=$(movie_mb "${ff_movie[$c]}")
    cq=$(ssim "${cr_movie[$c]}" "${case_stills[$c]}"); fq=$(ssim "${ff_movie[$c]}" "${case_stills[$c]}")
  fi
  awk -v c="$c" -v ct="$ct" -v ft="$ft" -v cm="$cm" -v fmm="$fm" -v cu="$cu" -v fu="$fu" -v n="$n" \
      -v cs="$cs" -v fs="$fs" -v cq="$cq" -v fq="$fq" 'BEGIN {
    printf "| %s | %.2f | %.0f | %.0f | %.2f | %s | %s | %.2f | %.0f | %.0f | %.2f | %s | %s | %.2f |\n",
      c, ct, n / ct, cm / 1024, cu, cs, cq, ft, n / ft, fmm / 1024, fu, fs, fq, ft / ct }'
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
if [[ " $cases " == *" flat "* ]]; then
  # (e) and (g) on the 600 stills and on 1,200 frames naming each of them twice through
  # hard links: peak memory must not grow with the number of frames.
  dir=$(need_photos 2560x1440 600 flat)
  twice=$work/links-1200-2560x1440
  if [ ! -f "$twice/.done" ]; then
    rm -rf "$twice"
    mkdir -p "$twice"
    mapfile -t sources < <(ls "$dir" | grep '\.jpg$' | sort)
    for ((i = 0; i < 1200; i++)); do
      name=$(date -u -d "@$((1893456000 + i * 60))" +%y%m%d%H%M%S).jpg
      ln "$dir/${sources[i % ${#sources[@]}]}" "$twice/$name" 2>/dev/null || cp "$dir/${sources[i % ${#sources[@]}]}" "$twice/$name"
    done
    touch "$twice/.done"
  fi
  echo
  printf '| frames of 2560x1440 into 1920x1080 | chronoreel s | fps | peak MB |\n|---|---|---|---|\n'
  for kind in "H.264 $h264 5491" "H.265 $hevc 4510"; do
    read -r label handler quality <<<"$kind"
    for d in "$dir" "$twice"; do
      n=$(ls "$d" | grep -c '\.jpg$')
      tls=$(setup_file "flat-$n" "$d" "$handler" 1 1920 1080 "$quality" 25 mp4 0)
      read -r t m u < <(timed "$chronoreel" /a /i "/f=$tls")
      rm -f "$runs_dir/flat-$n-chronoreel.mp4"
      awk -v l="$label" -v n="$n" -v t="$t" -v m="$m" 'BEGIN { printf "| %s, %d | %.2f | %.0f | %.1f |\n", l, n, t, n / t, m / 1024 }'
    done
  done
fi
echo
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%Y-%m-%d)"
