# Sourced by scripts/test and scripts/fuzz: the clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer. It holds the libFuzzer targets too, so fuzzing needs no build of its own.
configure_asan_build() {
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DSCALEDB_SANITIZE=ON -DSCALEDB_BENCH=OFF -DSCALEDB_FUZZ=ON
}

export_sanitizer_options() {
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
}
