# vrx4-cli: file commands on the core library (no Qt). The commands live in
# a library of their own so that the tests can call them too.
add_library(vrx4_clicmds STATIC ${CMAKE_CURRENT_LIST_DIR}/FileCommands.cpp)
target_link_libraries(vrx4_clicmds PUBLIC vrx4_core)
add_executable(vrx4-cli ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(vrx4-cli PRIVATE vrx4_clicmds)
# A short-lived tool: the C++ runtime linked in saves the dynamic loader
# most of its work at every start.
target_link_options(vrx4-cli PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed)
