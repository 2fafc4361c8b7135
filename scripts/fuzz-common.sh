# Sourced by scripts/fuzz.sh and scripts/fuzz-campaign.sh: the fuzz targets
# and their build (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
# in a build folder of their own.
fuzz_targets=(hex_line srec_line boot_collect save_address device_table unit_requests unit_state
  response_frames firmware_reader project_reader)
fuzz_build=build-fuzz

fuzz_have_clang() {
  command -v clang++ >/dev/null 2>&1 && command -v clang >/dev/null 2>&1
}

fuzz_configure_and_build() {
  local sanitizers=-fsanitize=fuzzer-no-link,address,undefined
  cmake -S . -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_FLAGS="$sanitizers" -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" \
    -DVRX4_FUZZ=ON -DVRX4_BUILD_GUI=OFF -DVRX4_BUILD_TESTS=OFF -DVRX4_BUILD_BENCH=OFF >/dev/null
  cmake --build "$fuzz_build" --target "${fuzz_targets[@]/#/fuzz_}" -j "$(nproc)"
}

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
