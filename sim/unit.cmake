# The complete simulated unit, its state file and its socket server. The
# unit's command dispatch, its command handlers, its stored state and its
# busy/timing model are one class in four files.
target_sources(vrx4_core PRIVATE
  SimulatedProgrammer.cpp
  SimulatedProgrammerCommands.cpp
  SimulatedProgrammerState.cpp
  SimulatedProgrammerTiming.cpp
  TargetModel.cpp
  UnitFaults.cpp
  UnitSocketServer.cpp
  UnitState.cpp
)

# The simulated unit as a process of its own, served over a Unix socket.
add_executable(vrx4-unitsim unitsim_main.cpp)
target_link_libraries(vrx4-unitsim PRIVATE vrx4_core)
