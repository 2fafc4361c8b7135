target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/LineReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramLoader.cpp
)
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BootFileReader.cpp
)
