# The main frame, the main form and the form's dialogs on screen.
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CMainFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CMainView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CMainViewDialogs.cpp
  )
endif()
