# The memory editor and the project file: core logic and their dialogs.
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MemoryEditor.cpp
)
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/EditCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProjectCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProjectFile.cpp
)
