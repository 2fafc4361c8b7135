# The unit's firmware image goes beside the executables (made by
# scripts/make-firmware.py).
set(VRX4_FIRMWARE_FILE ${VRX4_OUT_DIR}/vrx4.fwp)
add_custom_command(
  OUTPUT ${VRX4_FIRMWARE_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VRX4_OUT_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_SOURCE_DIR}/vrx4.fwp ${VRX4_FIRMWARE_FILE}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/vrx4.fwp
  COMMENT "Copying vrx4.fwp"
  VERBATIM)
add_custom_target(vrx4_firmware_file ALL DEPENDS ${VRX4_FIRMWARE_FILE})
add_dependencies(vrx4_core vrx4_firmware_file)
