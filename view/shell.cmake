# The main frame, the main form and the form's dialogs on screen; the
# application object that puts them together, and the vrx4 executable.
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CMainFrame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CMainView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CMainViewDialogs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CProgrammerApp.cpp
  )
  add_executable(vrx4 ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  target_link_libraries(vrx4 PRIVATE vrx4_gui)
endif()
