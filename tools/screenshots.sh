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
pictures="main_window progress location compression about"
for name in $pictures; do rm -f "$out/$name.png"; done
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1600x1200x24" "$tool" "$out" "$work/stills"
status=0
for name in $pictures; do
  [ -s "$out/$name.png" ] || { echo "screenshots: no picture of $name" >&2; status=1; }
done
ls -l "$out"
exit $status
