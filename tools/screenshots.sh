#!/bin/sh
# Pictures of the windows for docs/screenshots/: starts the program on a virtual display
# with a few generated stills, so that the progress window shows a real run.
#   tools/screenshots.sh [build-dir]     (default: build-ui; the program must be built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-ui}
program=$build/chronoreel
out=$root/docs/screenshots
[ -x "$program" ] || { echo "screenshots: build the program first: $program" >&2; exit 2; }
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run is needed (package xvfb)" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "screenshots: ffmpeg is needed for the stills" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/stills" "$out"
ffmpeg -loglevel error -f lavfi -i testsrc2=size=480x360:rate=1 -frames:v 24 "$work/stills/still%02d.jpg"

# The program profile is written to the working directory: keep it out of the checkout.
cd "$work"
env -u QT_QPA_PLATFORM CHRONOREEL_SCREENSHOT_DIR="$out" CHRONOREEL_SCREENSHOT_STILLS="$work/stills" \
  xvfb-run -a -s "-screen 0 1600x1200x24" "$program"
ls -l "$out"
