# libFuzzer targets (configure with clang and VRX4_FUZZ=ON; scripts/fuzz.sh
# does it in a build folder of its own).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  foreach(target hex_line srec_line boot_collect save_address device_table)
    add_executable(fuzz_${target} ${CMAKE_CURRENT_LIST_DIR}/fuzz_${target}.cpp)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${target} PRIVATE vrx4_core)
  endforeach()
else()
  message(WARNING "The fuzz targets need clang; none are built with ${CMAKE_CXX_COMPILER_ID}")
endif()
