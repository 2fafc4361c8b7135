# vrx4-cli: the program's work from a command line, on the core library (no
# Qt). The commands live in a library of their own so that the tests can
# call them too.
find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
add_library(vrx4_clicmds STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CliApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliDialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliPrompter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileFormats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Gang.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InfoCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Interrupt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JobEnd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JobOptionChecks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JobRecord.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JobSteps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Preflight.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreflightPrint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReadCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialNumbers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialSource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Sha256.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UdevRule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UnitSession.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsageText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbUnits.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Worker.cpp
)
target_link_libraries(vrx4_clicmds PUBLIC vrx4_core CLI11::CLI11 nlohmann_json::nlohmann_json)
add_executable(vrx4-cli ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(vrx4-cli PRIVATE vrx4_clicmds)
# A short-lived tool: the C++ runtime linked in saves the dynamic loader
# most of its work at every start.
target_link_options(vrx4-cli PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed)
# Nearly every file of the commands includes the JSON library or the option
# parser, whose headers cost more to compile than most of the files
# themselves: they are compiled once.
target_precompile_headers(vrx4_clicmds PRIVATE <nlohmann/json.hpp> <string> <vector> <functional> <filesystem>)
