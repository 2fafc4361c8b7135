# The device definition table goes beside the executables. Copied at build
# time, so an edit of the table is picked up by the next build; every program
# built on the core library gets it.
set(VRX4_DEVICE_TABLE ${VRX4_OUT_DIR}/vrx4type.tbl)
add_custom_command(
  OUTPUT ${VRX4_DEVICE_TABLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VRX4_OUT_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_SOURCE_DIR}/vrx4type.tbl ${VRX4_DEVICE_TABLE}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/vrx4type.tbl
  COMMENT "Copying vrx4type.tbl"
  VERBATIM)
add_custom_target(vrx4_device_table ALL DEPENDS ${VRX4_DEVICE_TABLE})
add_dependencies(vrx4_core vrx4_device_table)
