# The main frame and the main form (shells around the form's contents).
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CMainFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CMainView.cpp
  )
endif()
