#!/usr/bin/env bash
# Builds the Debian package: out/chronoreel_<version>_<arch>.deb, whose dependencies are the
# Debian runtime packages of the libraries the program links (found by dpkg-shlibdeps).
#   scripts/package.sh              a Release build without tests in build-package/
#   scripts/package.sh BUILD-DIR    packages a tree that is already configured and built
# Install the package with: sudo apt-get install ./out/chronoreel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# dpkg-shlibdeps comes with dpkg-dev.
missing=()
for p in dpkg-dev file; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "package.sh: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ $# -eq 0 ]; then
  dir=build-package
  scripts/build.sh "$dir" -DCMAKE_BUILD_TYPE=Release -DCHRONOREEL_TESTS=OFF
else
  dir=$1
  cmake --build "$dir" -j"$(nproc)"
fi

rm -f "$dir"/chronoreel_*.deb
(cd "$dir" && cpack -G DEB >cpack.log) || { cat "$dir/cpack.log"; exit 1; }
mkdir -p out
rm -f out/chronoreel_*.deb
cp "$dir"/chronoreel_*.deb out/
deb=$(ls out/chronoreel_*.deb)
echo "package.sh: $deb"
dpkg-deb -f "$deb" Package Version Architecture Depends Recommends
