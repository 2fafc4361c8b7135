# The main form's logic without a window: view fields, display routines and
# command handlers.
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/MainViewModel.cpp
)
