# The fuzzing build in one place, sourced by scripts/fuzz.sh and fuzz/run.sh: clang with
# libFuzzer, AddressSanitizer and UBSan (CHRONOREEL_FUZZ; its flags are in CMakeLists.txt),
# warnings as errors, in build-fuzz/; and the sanitizer settings the targets run with.
fuzz_build="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-fuzz"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Configures build-fuzz/ (a folder configured otherwise before is set right) and builds the
# targets named.
fuzz_make() {
  cmake -S "$(dirname "$fuzz_build")" -B "$fuzz_build" \
    -DCMAKE_C_COMPILER="$(command -v clang)" -DCMAKE_CXX_COMPILER="$(command -v clang++)" \
    -DCHRONOREEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHRONOREEL_WERROR=ON >/dev/null &&
    cmake --build "$fuzz_build" -j"$(nproc)" --target "$@"
}
