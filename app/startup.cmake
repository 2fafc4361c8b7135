# Start-up and exit: the program's state, command line, dialog folders and
# unit transport; the start-up picture. (The application object and the vrx4
# executable sit on top of the windows, in view/.)
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AppState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogPaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UnitTransport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UnitUsbId.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CSplashWindow.cpp
  )
endif()
