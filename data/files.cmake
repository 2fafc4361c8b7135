# The files the program reads from its own folder go beside the executables:
# the device table and the unit's firmware image (made by
# scripts/make-firmware.py). Copied at build time, so an edit is picked up by
# the next build; every program built on the core library gets them.
set(VRX4_DATA_FILES vrx4type.tbl vrx4.fwp)
set(placed_files)
foreach(name IN LISTS VRX4_DATA_FILES)
  add_custom_command(
    OUTPUT ${VRX4_OUT_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VRX4_OUT_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_SOURCE_DIR}/${name} ${VRX4_OUT_DIR}/${name}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}
    COMMENT "Copying ${name}"
    VERBATIM)
  list(APPEND placed_files ${VRX4_OUT_DIR}/${name})
endforeach()
add_custom_target(vrx4_data_files ALL DEPENDS ${placed_files})
add_dependencies(vrx4_core vrx4_data_files)
