# The complete simulated unit, its state file and its socket server.
target_sources(vrx4_core PRIVATE
  SimulatedProgrammer.cpp
  TargetModel.cpp
  UnitFaults.cpp
  UnitSocketServer.cpp
  UnitState.cpp
)

# The simulated unit as a process of its own, served over a Unix socket.
add_executable(vrx4-unitsim unitsim_main.cpp)
target_link_libraries(vrx4-unitsim PRIVATE vrx4_core)
