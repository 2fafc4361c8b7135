# Start-up and exit: the program's state, command line, dialog folders and
# the unit's USB IDs; the start-up picture. (The transport the command line
# chooses is made in programs/, above the simulated unit; the application
# object sits on top of the windows, in view/.)
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AppState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogPaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UnitUsbId.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CSplashWindow.cpp
  )
endif()
