# libFuzzer targets (configure with clang and VRX4_FUZZ=ON; scripts/fuzz.sh
# does it in a build folder of its own). Each fuzz_NAME.cpp is one target,
# under the same sanitizers as the core suites.
function(vrx4_add_fuzz_targets)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  foreach(target IN LISTS ARGN)
    add_executable(fuzz_${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_${target}.cpp)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${target} PRIVATE vrx4_core)
  endforeach()
endfunction()

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(WARNING "The fuzz targets need clang; none are built with ${CMAKE_CXX_COMPILER_ID}")
endif()
# What a damaged program, boot or table file can feed the parsers.
vrx4_add_fuzz_targets(hex_line srec_line boot_collect save_address device_table)
