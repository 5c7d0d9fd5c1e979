#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first the normal build, then the
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/test.sh           both builds, then every fuzz target for a minute
#   scripts/test.sh --quick   the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
status=0

echo "== normal build =="
scripts/build.sh build -DCHRONOREEL_WERROR=ON
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1

if [ "${1:-}" != "--quick" ]; then
  echo "== sanitizer build =="
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  scripts/build.sh build-asan -DCHRONOREEL_WERROR=ON -DCHRONOREEL_SANITIZE=ON
  (cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 900) || status=1

  # Every fuzz target for a bounded time (FUZZ_SECONDS each), after its kept findings.
  echo "== fuzzing =="
  scripts/fuzz.sh --seconds "${FUZZ_SECONDS:-60}" || status=1
fi

if [ $status -eq 0 ]; then echo "test.sh: all tests passed"; else echo "test.sh: some tests FAILED"; fi
exit $status
