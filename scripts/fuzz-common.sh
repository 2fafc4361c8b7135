# Sourced by scripts/sanitize.sh, scripts/fuzz.sh and scripts/fuzz-campaign.sh:
# one build folder under AddressSanitizer and UndefinedBehaviorSanitizer for
# the core test suites and the libFuzzer targets. With clang the core is built
# once for both (instrumented for the fuzzer too, which the tests ignore);
# without clang the suites are built with g++ and there are no fuzz targets.
fuzz_targets=(hex_line srec_line boot_collect save_address device_table unit_requests unit_state
  response_frames firmware_reader project_reader)
sanitize_suites=(link commands records files workflows sim)
fuzz_build=build-sanitize

fuzz_have_clang() {
  command -v clang++ >/dev/null 2>&1 && command -v clang >/dev/null 2>&1
}

# Configures the folder; the same settings for every script, so that one
# script's build is up to date for the next.
sanitize_configure() {
  local compilers=() flags="-O1"
  if fuzz_have_clang; then
    compilers=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVRX4_FUZZ=ON)
    flags="$flags -fsanitize=fuzzer-no-link"
  fi
  cmake -S . -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${compilers[@]}" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DVRX4_SANITIZE=ON \
    -DVRX4_BUILD_GUI=OFF -DVRX4_BUILD_BENCH=OFF -DVRX4_BUILD_MANUALS=OFF \
    -DVRX4_TEST_DIRS="$(IFS=';'; echo "${sanitize_suites[*]}")" >/dev/null
}

fuzz_configure_and_build() {
  sanitize_configure
  cmake --build "$fuzz_build" --target "${fuzz_targets[@]/#/fuzz_}" -j "$(nproc)"
}

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
