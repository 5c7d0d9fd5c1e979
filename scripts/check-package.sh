#!/usr/bin/env bash
# Checks the Debian package as a user meets it: builds it from a built tree (default build/,
# as scripts/test.sh leaves it), installs it with apt-get, runs the installed program, its
# demo, manual pages, desktop entry, file type and completion, and removes it again.
# Needs root or sudo; changes the machine's installed packages while it runs.
#   scripts/check-package.sh [BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# The tools a desktop uses to read the entry and the file type, and the manual reader.
# mimetype (libfile-mimeinfo-perl) is what xdg-mime asks outside a desktop session.
packages=(desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl man-db dpkg-dev ffmpeg)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "check-package: installing ${missing[*]}"
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

scripts/package.sh "$dir"
deb=$(ls out/chronoreel_*.deb)
version=$(dpkg-deb -f "$deb" Version)

failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports and counts a failure
  local what=$1
  shift
  if "$@" >/tmp/check-package.out 2>&1; then
    echo "check-package: ok    $what"
  else
    echo "check-package: FAIL  $what"
    sed 's/^/    /' /tmp/check-package.out
    failures=$((failures + 1))
  fi
}

no_dev_depends() {
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  [ -n "$depends" ] && ! tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | grep -E -- '-dev(:[a-z0-9]+)?$'
}
check "the package depends on runtime packages only" no_dev_depends

if dpkg-query -W -f='${Status}' chronoreel 2>/dev/null | grep -q "install ok installed"; then
  $SUDO apt-get remove -y -q chronoreel >/dev/null
fi
work=$(mktemp -d)
cleanup() {
  $SUDO apt-get remove -y -q chronoreel >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Whatever else apt brings in has to come from Debian.
only_debian_packages() {
  apt-get install -s "./$deb" | grep '^Inst ' | tee /dev/stderr | grep -v '^Inst chronoreel ' |
    grep -v -E '\(.* (Debian|Debian-Security):' | grep -q . && return 1
  return 0
}
check "apt-get pulls only Debian packages" only_debian_packages
$SUDO apt-get install -y -q "./$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
echo "check-package: installed $deb"

docs=/usr/share/doc/chronoreel
check "chronoreel is on the PATH in /usr/bin" test "$(command -v chronoreel)" = /usr/bin/chronoreel
check "chronoreel --version names $version" grep -qx "chronoreel $version" <(chronoreel --version)

demo_movie() {
  # No display: the run is unattended and needs none.
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM sh "$docs/examples/demo/run-demo.sh" "$work/demo"
  local frames
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
    -of default=nw=1:nk=1 "$work/demo/garden.avi")
  echo "frames: $frames"
  [ "$frames" -gt 0 ]
}
check "the installed demo makes its movie" demo_movie
check "man chronoreel" man -w chronoreel
check "man 5 chronoreel.tls" man -w 5 chronoreel.tls
check "the manual pages render without warnings" \
  sh -c '! { man --warnings -E UTF-8 -l "$(man -w chronoreel)" && man --warnings -E UTF-8 -l "$(man -w 5 chronoreel.tls)"; } 2>&1 >/dev/null | grep .'
installed_paths_in_manual() {
  local page
  for page in "$(man -w chronoreel)" "$(man -w 5 chronoreel.tls)"; do
    ! zgrep -n '@[A-Z_]*@' "$page" || return 1
  done
  man -P cat chronoreel 2>/dev/null | grep -q "$docs/examples/"
}
check "the manual pages name the installed paths" installed_paths_in_manual
check "the window's manual is installed" test -s "$docs/manual.html" -a -s "$docs/screenshots/main_window.png"
check "desktop-file-validate" desktop-file-validate /usr/share/applications/chronoreel.desktop
check "the icon in every size and as SVG" sh -c 'for s in 16 24 32 48 64 128 256; do
  test -s /usr/share/icons/hicolor/${s}x${s}/apps/chronoreel.png || exit 1; done
  test -s /usr/share/icons/hicolor/scalable/apps/chronoreel.svg'

tls_type=application/x-chronoreel-setup
cp "$work/demo/garden.tls" "$work/roof.tls"
printf '[General]\nStillDirectory=/srv/cams/roof\n' >"$work/roof-setup"
check "xdg-mime: a .tls file is a Chronoreel setup" test "$(xdg-mime query filetype "$work/roof.tls")" = "$tls_type"
check "xdg-mime: a setup without .tls by its [General]" test "$(xdg-mime query filetype "$work/roof-setup")" = "$tls_type"
check "xdg-mime: a setup opens in Chronoreel" test "$(xdg-mime query default "$tls_type")" = chronoreel.desktop

completes() {  # completes LINE WORD... EXPECTED: the replies for LINE split into WORDs
  local line=$1 expected=${*: -1}
  local -a words=("${@:2:$#-2}")
  bash -c 'cd "$1" && source /usr/share/bash-completion/completions/chronoreel &&
    COMP_LINE=$2 COMP_POINT=${#2} && shift 2 && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) &&
    _chronoreel && echo "${COMPREPLY[*]}"' _ "$work" "$line" "${words[@]}" | tee /dev/stderr | grep -qx -- "$expected"
}
check "bash completes the switches" completes "chronoreel /i" chronoreel /i "/i /ip= /if="
check "bash completes setup files after /f=" completes "chronoreel /a /f=r" chronoreel /a /f = r "roof.tls"

check "the systemd units run the installed program" \
  grep -q 'exec "/usr/bin/chronoreel" /a' "$docs/examples/systemd/chronoreel@.service"
units_verify() {  # the units as an instance for one setup file, as systemd reads them
  command -v systemd-analyze >/dev/null || { echo "no systemd-analyze: not verified"; return 0; }
  local instance
  instance="chronoreel@$(systemd-escape --path "$work/demo/garden.tls")"
  mkdir -p "$work/units"
  cp "$docs/examples/systemd/chronoreel@.service" "$work/units/$instance.service"
  cp "$docs/examples/systemd/chronoreel@.timer" "$work/units/$instance.timer"
  (cd "$work/units" && systemd-analyze verify "$instance.service" "$instance.timer")
}
check "systemd reads the service and timer units" units_verify
check "the crontab line runs the installed program" grep -q '/usr/bin/chronoreel /a' "$docs/examples/chronoreel.cron"

$SUDO apt-get remove -y -q chronoreel >/dev/null
check "removal leaves no program behind" sh -c '! command -v chronoreel && test ! -e /usr/share/applications/chronoreel.desktop'

if [ $failures -eq 0 ]; then
  echo "check-package: the package installs and works"
else
  echo "check-package: $failures checks FAILED"
  exit 1
fi
