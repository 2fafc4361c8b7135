target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ProgramSaver.cpp
)
