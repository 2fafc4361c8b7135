# Whole-process timing of vrx4-cli convert against objcopy and srec_cat.
add_executable(vrx4-proctime ${CMAKE_CURRENT_LIST_DIR}/ProcTime.cpp)
