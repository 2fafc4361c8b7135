# The main form's logic without a window, one class in several files: its
# fields (MainViewModel), the display routines (MainViewDisplay), the
# start-up restore (MainViewRestore), the file and settings handlers
# (MainViewFileHandlers) and the operation handlers (MainViewOperations).
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MainViewDisplay.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainViewFileHandlers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainViewModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainViewOperations.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainViewRestore.cpp
)
