#!/usr/bin/env bash
# Installs the Debian packages Chronoreel builds and tests with; only the missing ones.
# Usage: scripts/install-deps.sh [--gui-tools]
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libturbojpeg0-dev
  libexif-dev                    # capture times from the stills' EXIF data
  libfreetype-dev libfontconfig-dev  # the date stamp on each frame
  libgtest-dev
  ffmpeg            # ffprobe reads back the movies the tests write
  xvfb xauth        # screenshots and GUI runs without a screen
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
