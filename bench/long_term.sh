#!/usr/bin/env bash
# A year of stills at one a minute (525,600, named by time) through a dry run: the scan and
# the selection of one frame an hour, then the same with SkipDarkBelow and SkipBrightAbove
# set, which decodes every still in the window at 1/8 scale. Prints a markdown table of
# medians: seconds, CPU seconds, stills per second per core for the brightness pass, and
# the load average.
#
#   bench/long_term.sh [--chronoreel PATH] [--make-stills PATH] [--size WxH] [--runs N]
#
# Defaults: build/chronoreel, build/make_stills, stills of 320x240, 3 runs. The year is a
# handful of real stills (day, dark night, blown-out noon) hard-linked under 525,600 names
# in bench/corpus/year-WxH (not in git), made once.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
chronoreel=build/chronoreel
make_stills=build/make_stills
size=320x240
runs=3
while [ $# -gt 0 ]; do
  case $1 in
    --chronoreel) chronoreel=$2; shift 2 ;;
    --make-stills) make_stills=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "bench: unknown option $1" >&2; exit 2 ;;
  esac
done
chronoreel=$(realpath "$chronoreel")
make_stills=$(realpath "$make_stills")
width=${size%x*}
height=${size#*x}
command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is needed" >&2; exit 2; }
unset DISPLAY WAYLAND_DISPLAY

year=$root/bench/corpus/year-$size
if [ ! -f "$year/.done" ]; then
  rm -rf "$year" "$year-sources"
  src=$year-sources
  mkdir -p "$src" "$year"
  # Daylight over a summer day, one still each 90 minutes from 04:00.
  "$make_stills" "$src/day" 12 "$width" "$height" 2026-06-21T04:00 5400 >/dev/null
  # Night: the day's stills darkened, with sensor noise (mean luma about 25); noon blown
  # out (about 250).
  i=0
  for f in "$src"/day/*.jpg; do
    ffmpeg -nostdin -loglevel error -y -i "$f" -vf "eq=brightness=-0.35:contrast=0.4,noise=alls=14:allf=t+u" \
      -q:v 4 "$src/night$i.jpg"
    ffmpeg -nostdin -loglevel error -y -i "$f" -vf "eq=brightness=0.45:contrast=0.5,noise=alls=8:allf=t+u" \
      -q:v 4 "$src/white$i.jpg"
    i=$((i + 1))
  done
  python3 - "$src" "$year" <<'PY'
import datetime, glob, os, sys
src, year = sys.argv[1], sys.argv[2]
day = sorted(glob.glob(os.path.join(src, "day", "*.jpg")))
night = sorted(glob.glob(os.path.join(src, "night*.jpg")))
white = sorted(glob.glob(os.path.join(src, "white*.jpg")))
t = datetime.datetime(2025, 1, 1)
for m in range(525600):
    at = t + datetime.timedelta(minutes=m)
    h = at.hour
    if h < 6 or h >= 21:
        f = night[m % len(night)]
    elif at.day % 10 == 0 and 11 <= h < 14:
        f = white[m % len(white)]
    else:
        f = day[(h - 6) * len(day) // 15]
    os.link(f, os.path.join(year, at.strftime("%y%m%d%H%M%S") + ".jpg"))
PY
  touch "$year/.done"
fi

runs_dir=$root/bench/corpus/year-runs
rm -rf "$runs_dir"
mkdir -p "$runs_dir"
# The whole of 2025 as date-time values (days from 1899-12-30).
setup_file() {
  cat > "$runs_dir/$1.tls" <<TLS
[General]
StillDirectory=$year
ImageFilter=*.jpg
TimeStampOption=1
TimeOption=1
StartTimeOption=3
StartTimeAbsolute=45658
StopTimeOption=3
StopTimeAbsolute=46023
ImageIntervalOption=1
ImagesPerHour=1
DuplicateCount=1
OutputAVIPath=$runs_dir/$1.mp4
$2
TLS
}
setup_file select ""
setup_file dark "SkipDarkBelow=40
SkipBrightAbove=245"

# One dry run: "seconds cpu_seconds", and its listing kept.
timed() {
  local log=$runs_dir/time.log
  (cd "$runs_dir" && /usr/bin/time -v -o "$log" "$chronoreel" /a /d /i /f="$runs_dir/$1.tls" >"$runs_dir/$1.out" 2>&1)
  local wall cpu
  wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}')
  cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$log")
  echo "$wall" | awk -F: -v cpu="$cpu" '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.3f %s\n", s, cpu }'
}
median() { sort -n | awk '{a[NR] = $1} END { if (NR % 2) print a[(NR + 1) / 2]; else printf "%.3f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

cores=$(nproc)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
: >"$runs_dir/select.times"
: >"$runs_dir/dark.times"
for ((r = 0; r < runs; r++)); do
  timed select >>"$runs_dir/select.times"
  timed dark >>"$runs_dir/dark.times"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

s_wall=$(awk '{print $1}' "$runs_dir/select.times" | median)
s_cpu=$(awk '{print $2}' "$runs_dir/select.times" | median)
d_wall=$(awk '{print $1}' "$runs_dir/dark.times" | median)
d_cpu=$(awk '{print $2}' "$runs_dir/dark.times" | median)
found=$(sed -n 's/^Stills found: //p' "$runs_dir/select.out")
frames=$(sed -n 's/^Frames: \([0-9]*\)[ ,].*/\1/p' "$runs_dir/select.out")
dark_frames=$(sed -n 's/^Frames: \([0-9]*\)[ ,].*/\1/p' "$runs_dir/dark.out")
left_out=$(sed -n 's/^Left out: //p' "$runs_dir/dark.out")
# The brightness pass is what the second run adds to the first.
per_core=$(awk -v n="$found" -v a="$s_wall" -v b="$d_wall" -v c="$cores" 'BEGIN { printf "%.0f", n / (b - a) / c }')
per_cpu_s=$(awk -v n="$found" -v a="$s_cpu" -v b="$d_cpu" 'BEGIN { printf "%.0f", n / (b - a) }')

echo "Machine: $cores cores, $(date -u +%Y-%m-%d), load average $load_before before and $load_after after;"
echo "stills of $size, medians of $runs dry runs (\`$chronoreel /a /d /i\`)."
echo
echo "| run | stills | frames | s | CPU s |"
echo "|---|---|---|---|---|"
echo "| scan + selection (one frame an hour) | $found | $frames | $s_wall | $s_cpu |"
echo "| the same, SkipDarkBelow=40 and SkipBrightAbove=245 ($left_out) | $found | $dark_frames | $d_wall | $d_cpu |"
echo
echo "Brightness pass: $per_core stills/s per core (wall time over $cores cores), $per_cpu_s stills per CPU second."
