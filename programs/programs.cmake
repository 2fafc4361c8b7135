# Where the programs are put together: the transport that vrx4's command line
# chooses (libusb, the in-process simulated unit or the simulator's socket)
# and the vrx4 executable. This folder sits above sim/ and view/, so that
# nothing below it has to know the simulated unit.
add_library(vrx4_transport STATIC
  ${CMAKE_CURRENT_LIST_DIR}/UnitTransport.cpp
)
target_link_libraries(vrx4_transport PUBLIC vrx4_core)

if(VRX4_BUILD_GUI)
  add_executable(vrx4 ${CMAKE_CURRENT_LIST_DIR}/vrx4_main.cpp)
  target_link_libraries(vrx4 PRIVATE vrx4_gui vrx4_transport)
endif()
