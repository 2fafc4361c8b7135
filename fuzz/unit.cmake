# libFuzzer targets of the simulated unit: its requests and its state files.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  foreach(target unit_requests unit_state)
    add_executable(fuzz_${target} ${CMAKE_CURRENT_LIST_DIR}/fuzz_${target}.cpp)
    target_compile_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(fuzz_${target} PRIVATE vrx4_core)
  endforeach()
endif()
