#!/bin/sh
# Pictures of the windows for docs/screenshots/: starts the screenshot tool (built with the
# windows) on a virtual display with a few generated stills, so that the progress window
# shows a real run.
#   tools/screenshots.sh [build-dir]     (default: build-ui; the tool must be built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-ui}" && pwd)  # absolute: the tool runs from another folder
tool=$build/chronoreel-screenshots
out=$root/docs/screenshots
[ -x "$tool" ] || { echo "screenshots: build the tool first: $tool" >&2; exit 2; }
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run is needed (package xvfb)" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "screenshots: ffmpeg is needed for the stills" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/stills" "$out"
ffmpeg -loglevel error -f lavfi -i testsrc2=size=480x360:rate=1 -frames:v 24 "$work/stills/still%02d.jpg"

# The program profile is written to the working directory: keep it out of the checkout.
cd "$work"
pictures="main_window desktop marked_box progress run_notice selection_preview location compression about"
# A laptop screen of 1366x768, then a high-density screen at twice the scale.
status=0
for take in "$out 1366x768 1" "$out/2x 2732x1536 2"; do
  set -- $take
  mkdir -p "$1"
  for name in $pictures; do rm -f "$1/$name.png"; done
  env -u QT_QPA_PLATFORM QT_SCALE_FACTOR=$3 xvfb-run -a -s "-screen 0 ${2}x24" "$tool" "$1" "$work/stills"
  for name in $pictures; do
    [ -s "$1/$name.png" ] || { echo "screenshots: no picture of $name at $2" >&2; status=1; }
  done
done
ls -l "$out" "$out/2x"
exit $status
