# libFuzzer targets of what a broken or malicious unit or file can feed the
# host: the unit's replies to every query, the firmware file, the project
# file.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  foreach(target response_frames firmware_reader project_reader)
    add_executable(fuzz_${target} ${CMAKE_CURRENT_LIST_DIR}/fuzz_${target}.cpp)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${target} PRIVATE vrx4_core)
  endforeach()
endif()
