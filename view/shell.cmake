# The main frame, the main form and the form's dialogs on screen; the
# application object that puts them together. (The vrx4 executable is made
# in programs/, which also chooses its transport.)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CMainFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CMainView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CMainViewDialogs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CProgrammerApp.cpp
  )
endif()
