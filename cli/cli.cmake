# vrx4-cli: file commands on the core library (no Qt).
add_executable(vrx4-cli
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileCommands.cpp
)
target_link_libraries(vrx4-cli PRIVATE vrx4_core)
