# The application object, start-up and exit, and the vrx4 executable.
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AppState.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DialogPaths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UnitTransport.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CProgrammerApp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSplashWindow.cpp
  )
  add_executable(vrx4 ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  target_link_libraries(vrx4 PRIVATE vrx4_gui)
endif()
