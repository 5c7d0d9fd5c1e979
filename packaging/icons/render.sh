#!/usr/bin/env bash
# Renders chronoreel.svg into the PNG sizes of the hicolor theme (committed beside it, so a
# build needs no SVG renderer). Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" chronoreel.svg -o "chronoreel-$size.png"
done
