#!/usr/bin/env bash
# Builds the fuzz targets (as fuzz/config.sh says) and runs each one over a work copy of its
# seed corpus, one target at a time.
#
#   fuzz/run.sh [--runs N | --seconds S] [--no-build] [--make-seeds] [target ...]
#
# --runs N       inputs per target (default 100000)
# --seconds S    time per target instead of a count
# --no-build     use the binaries as they are
# --make-seeds   rewrite the JPEG seeds of fuzz_frame, then go on
# target ...     only these (default: every fuzz/fuzz_*.cpp)
#
# Work copies and findings go to fuzz/runs/<target>/ (git-ignored): corpus/ grows with the
# inputs found, crash-*, leak-*, timeout-* and oom-* are reproducers. Reproduce one with
#   build-fuzz/<target> fuzz/runs/<target>/crash-...
# The exit status is non-zero when any target found something.
set -u -o pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/config.sh"
build=$fuzz_build
runs=100000
seconds=""
do_build=1
make_seeds=0
targets=()

while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --make-seeds) make_seeds=1; shift ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

if [ ${#targets[@]} -eq 0 ]; then
  for src in "$here"/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi

if [ "$do_build" = 1 ]; then
  build_list=("${targets[@]}")
  [ "$make_seeds" = 1 ] && build_list+=(make_fuzz_seeds)
  fuzz_make "${build_list[@]}" >/dev/null || { echo "run.sh: cannot build ${build_list[*]}" >&2; exit 2; }
fi

if [ "$make_seeds" = 1 ]; then
  mkdir -p "$here/corpus/fuzz_frame"
  "$build/make_fuzz_seeds" "$here/corpus/fuzz_frame" || exit 2
fi

status=0
printf '%-20s %12s  %s\n' target executions result
for t in "${targets[@]}"; do
  bin="$build/$t"
  if [ ! -x "$bin" ]; then
    printf '%-20s %12s  %s\n' "$t" - "not built"
    status=1
    continue
  fi
  work="$here/runs/$t"
  mkdir -p "$work/corpus"
  [ -d "$here/corpus/$t" ] && cp -n "$here/corpus/$t"/* "$work/corpus/" 2>/dev/null
  before=$(ls "$work" | grep -cE '^(crash|leak|timeout|oom)-' || true)

  args=(-rss_limit_mb=2048 -timeout=30 -print_final_stats=1 "-artifact_prefix=$work/")
  if [ -n "$seconds" ]; then
    args+=("-max_total_time=$seconds")
  else
    args+=("-runs=$runs")
  fi
  [ -f "$here/dict/$t.dict" ] && args+=("-dict=$here/dict/$t.dict")

  log="$work/last.log"
  (cd "$work" && "$bin" "${args[@]}" "$work/corpus") >"$log" 2>&1
  rc=$?
  after=$(ls "$work" | grep -cE '^(crash|leak|timeout|oom)-' || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $rc -ne 0 ] || [ "$after" -gt "$before" ]; then
    status=1
    found=$(grep -m1 -E '^(==[0-9]+==ERROR|SUMMARY|invariant violated)' "$log")
    printf '%-20s %12s  %s\n' "$t" "${execs:-?}" "FOUND (exit $rc): ${found:-see $log}"
    ls -t "$work" | grep -E '^(crash|leak|timeout|oom)-' | head -3 | sed "s|^|    $work/|"
  else
    printf '%-20s %12s  %s\n' "$t" "${execs:-?}" ok
  fi
done
exit $status
