#!/usr/bin/env bash
# Measures the quality scale of the compression dialog: runs chronoreel over a grid of
# dwQuality values for each of today's encoders with a quality, scores every movie against
# its stills (SSIM and PSNR, ffmpeg's filters, in 4:2:0), prints size and score per point,
# then the position tables for src/engine/codecs.cpp. libx264 is the anchor: position p is
# its CRF 51 - 0.51 p; for the others, each x264 point gets the dwQuality whose movie scores
# the same SSIM (interpolated in dB), so one position gives about one picture everywhere.
#
#   bench/quality_scale.sh [--chronoreel PATH] [--stills N] [--size WxH] [--encoders "..."]
#
# Defaults: build/chronoreel, 20 stills of 1920x1080 made by make-photo-stills.sh under
# bench/corpus (not in git), encoders "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg ffv1".
# Movies are MP4 (MJPEG and FFV1: AVI), the size of the stills, 24 frames a second.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
chronoreel=build/chronoreel
count=20
size=1920x1080
encoders="libx264 libx265 libsvtav1 libvpx-vp9 mjpeg ffv1"
while [ $# -gt 0 ]; do
  case $1 in
    --chronoreel) chronoreel=$2; shift 2 ;;
    --stills) count=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --encoders) encoders=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "quality_scale: unknown option $1" >&2; exit 2 ;;
  esac
done
chronoreel=$(realpath "$chronoreel")
[ -x "$chronoreel" ] || { echo "quality_scale: no chronoreel at $chronoreel" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "quality_scale: ffmpeg is needed" >&2; exit 2; }
unset DISPLAY WAYLAND_DISPLAY

stills=$root/bench/corpus/photo-$size-$count
"$root/../shared/corpus/make-photo-stills.sh" "$stills" "$count" "$size" >/dev/null
runs=$root/bench/corpus/quality-runs
rm -rf "$runs"
mkdir -p "$runs"

fourcc() { python3 -c 'import sys; t = sys.argv[1]; print(sum(ord(c) << (8 * i) for i, c in enumerate(t)))' "$1"; }
hexline() { python3 -c 'import sys; b = sys.argv[1].encode() + b"\n"; print((b.hex().upper() + "0" * 64)[:64], len(b))' "$1"; }

# The encoder's own scale: CRF 51..0 or the quantiser 31..1, and dwQuality at the centre
# of each step (CrfForQuality and QscaleForQuality round back to it).
dw_crf() { echo $(((2 * (51 - $1) * 9999 + 51) / 102 + 1)); }
dw_qscale() { echo $(((2 * (31 - $1) * 9999 + 30) / 60 + 1)); }

# encoder -> "FOURCC container scale grid"
declare -A plan=(
  [libx264]="H264 mp4 crf 51 46 41 36 31 27 23 19 15 11 7 3 0"
  [libx265]="HEVC mp4 crf 51 44 38 33 28 24 20 15 9 0"
  [libsvtav1]="AV01 mp4 crf 51 44 38 33 28 24 20 15 9 1"
  [libvpx-vp9]="VP90 mp4 crf 51 44 38 33 28 24 20 15 9 0"
  [mjpeg]="MJPG avi qscale 31 24 18 14 11 9 7 5 4 3 2 1"
  [ffv1]="FFV1 avi none 0"
)

# run ENCODER FOURCC CONTAINER DWQUALITY -> "bytes ssim psnr"
run() {
  local name=$1 code=$2 container=$3 quality=$4
  local movie=$runs/$name-$quality.$container tls=$runs/$name-$quality.tls parms=""
  if [ "$name" = libsvtav1 ]; then
    read -r line n < <(hexline "encoder=libsvtav1")
    parms="Parms=$n
ParmsData00001=$line"
  fi
  cat > "$tls" <<TLS
[General]
StillDirectory=$stills
ImageFilter=*.jpg
TimeStampOption=1
TimeOption=0
DeleteOldImages=False
MovieSizeOption=0
MovieFPS=24
OutputAVIPath=$movie
PostGenerationShell=
[Compress]
Handler=$(fourcc "$code")
Quality=$quality
Flags=8
$parms
TLS
  "$chronoreel" /a /i "/f=$tls" >/dev/null 2>"$runs/$name-$quality.log" || {
    echo "quality_scale: chronoreel failed for $name $quality" >&2; cat "$runs/$name-$quality.log" >&2; exit 1; }
  local scores
  scores=$(ffmpeg -nostdin -hide_banner -i "$movie" -framerate 24 -pattern_type glob -i "$stills/*.jpg" \
    -lavfi "[0:v]setpts=PTS-STARTPTS,format=yuv420p[m];[1:v]setpts=PTS-STARTPTS,format=yuv420p,split[r1][r2];[m][r1]ssim[s];[s][r2]psnr" \
    -f null - 2>&1 | awk '/SSIM Y:/ { for (i = 1; i <= NF; i++) if ($i ~ /^All:/) { sub("All:", "", $i); s = $i } }
                           /PSNR y:/ { for (i = 1; i <= NF; i++) if ($i ~ /^average:/) { sub("average:", "", $i); p = $i } }
                           END { print s, p }')
  echo "$(stat -c %s "$movie") $scores"
  rm -f "$movie"
}

results=$runs/results.txt
: > "$results"
printf '| encoder | own value | dwQuality | KB | SSIM | PSNR dB |\n|---|---|---|---|---|---|\n'
for name in $encoders; do
  [ -n "${plan[$name]:-}" ] || { echo "quality_scale: no grid for $name" >&2; exit 2; }
  read -r code container scale grid <<<"${plan[$name]}"
  for v in $grid; do
    case $scale in
      crf) q=$(dw_crf "$v") ;;
      qscale) q=$(dw_qscale "$v") ;;
      *) q=0 ;;
    esac
    read -r bytes ssim psnr < <(run "$name" "$code" "$container" "$q")
    printf '| %s | %s %s | %d | %d | %s | %s |\n' "$name" "$scale" "$v" "$q" $((bytes / 1024)) "$ssim" "$psnr"
    echo "$name $q $bytes $ssim $psnr" >> "$results"
  done
done

echo
python3 - "$results" <<'PY'
import math, sys
points = {}
for line in open(sys.argv[1]):
    name, q, _, ssim, _ = line.split()
    if ssim in ("", "inf"): continue
    points.setdefault(name, []).append((int(q), float(ssim)))
def db(s): return -10 * math.log10(max(1 - s, 1e-9))
anchor = sorted(points.get("libx264", []))
if not anchor:
    sys.exit("no libx264 points: nothing to anchor the scale")
def quality_for(curve, target):
    """dwQuality whose SSIM (in dB) matches target, clamped to the curve's ends."""
    curve = sorted((db(s), q) for q, s in curve)
    if target <= curve[0][0]: return curve[0][1]
    for (d0, q0), (d1, q1) in zip(curve, curve[1:]):
        if target <= d1:
            return q0 + (q1 - q0) * (target - d0) / (d1 - d0) if d1 > d0 else q1
    return curve[-1][1]
names = {"libx265": "kX265Quality", "libsvtav1": "kSvtAv1Quality",
         "libvpx-vp9": "kVp9Quality", "mjpeg": "kMjpegQuality"}
for name, table in names.items():
    if name not in points: continue
    rows = [(0, 1)]
    for q, s in anchor:
        p = round((q - 1) / 99.99)
        if p in (0, 100): continue
        rows.append((p, round(quality_for(points[name], db(s)))))
    rows.append((100, 10000))
    # Strictly rising, and steep enough that a position survives the trip to dwQuality.
    kept = [rows[0]]
    for p, q in rows[1:]:
        if p == 100:
            while len(kept) > 1 and 10000 - kept[-1][1] < 2 * (100 - kept[-1][0]): kept.pop()
            kept.append((p, q))
        elif q - kept[-1][1] >= 2 * (p - kept[-1][0]) and q < 10000:
            kept.append((p, q))
    print("constexpr QualityPoint %s[] = {%s};" % (table, ", ".join("{%d, %d}" % r for r in kept)))
PY
