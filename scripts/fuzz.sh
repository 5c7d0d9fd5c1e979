#!/usr/bin/env bash
# Fuzzing as CI runs it: installs clang and libFuzzer when missing, builds the fuzz targets
# in build-fuzz/, replays every kept finding (fuzz/regressions/<target>/), then runs each
# target for a bounded time over its seed corpus.
#
#   scripts/fuzz.sh [--seconds S] [--runs N] [target ...]
#
# --seconds S   time per target (default 60)
# --runs N      a fixed number of inputs per target instead of a time
# The exit status is non-zero when a kept finding fails again or a run finds something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
runs=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

# libFuzzer and the sanitizer runtimes come with clang's compiler-rt package.
packages=(clang libclang-rt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "fuzz.sh: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

source fuzz/config.sh
fuzz_make "${targets[@]}"
build=$fuzz_build
status=0

# Each kept finding once: it must now pass (a crash, leak or timeout fails the replay).
for t in "${targets[@]}"; do
  dir="fuzz/regressions/$t"
  [ -d "$dir" ] || continue
  shopt -s nullglob
  inputs=("$dir"/*)
  shopt -u nullglob
  [ ${#inputs[@]} -eq 0 ] && continue
  if "$build/$t" -timeout=30 -rss_limit_mb=2048 "${inputs[@]}" >"$build/$t.replay.log" 2>&1; then
    echo "fuzz.sh: $t: ${#inputs[@]} kept findings pass"
  else
    echo "fuzz.sh: $t: a kept finding FAILS again; see $build/$t.replay.log"
    status=1
  fi
done

if [ -n "$runs" ]; then
  fuzz/run.sh --no-build --runs "$runs" "${targets[@]}" || status=1
else
  fuzz/run.sh --no-build --seconds "$seconds" "${targets[@]}" || status=1
fi
exit $status
