# Whole-process timing of vrx4-cli convert against objcopy and srec_cat.
add_executable(vrx4-proctime ${CMAKE_CURRENT_LIST_DIR}/ProcTime.cpp)

# The record parsers alone (Google Benchmark).
find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(bench_parsers ${CMAKE_CURRENT_LIST_DIR}/ParserBench.cpp)
  target_link_libraries(bench_parsers PRIVATE vrx4_core benchmark::benchmark)
endif()
