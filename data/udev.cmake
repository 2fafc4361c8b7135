# The USB access rule for the unit's vendor and product ID, placed beside the
# executables (the programs name it in their "cannot open" message), and the
# installation of this folder's files.
function(vrx4_usb_id_text value out)
  string(REGEX REPLACE "^0[xX]" "" hex "${value}")
  string(TOLOWER "${hex}" hex)
  string(LENGTH "${hex}" n)
  while(n LESS 4)
    string(PREPEND hex "0")
    math(EXPR n "${n} + 1")
  endwhile()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()
vrx4_usb_id_text("${VRX4_UNIT_VENDOR_ID}" VRX4_RULE_VENDOR)
vrx4_usb_id_text("${VRX4_UNIT_PRODUCT_ID}" VRX4_RULE_PRODUCT)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/60-vrx4.rules.in ${VRX4_OUT_DIR}/60-vrx4.rules @ONLY)
# The metainfo (packaging/) names the same IDs.
set(VRX4_USB_ID_TEXT "${VRX4_RULE_VENDOR}:${VRX4_RULE_PRODUCT}" CACHE INTERNAL "vendor:product of the unit, lower-case hex")

# Installed: the data files in share/vrx4/ (the programs find them through
# ../share/vrx4/), the rule in lib/udev/rules.d/ below the prefix
# (/usr/lib/udev/rules.d/ in the package).
include(GNUInstallDirs)
foreach(name IN LISTS VRX4_DATA_FILES)
  install(FILES ${VRX4_OUT_DIR}/${name} DESTINATION ${CMAKE_INSTALL_DATADIR}/vrx4 COMPONENT cli)
endforeach()
install(FILES ${VRX4_OUT_DIR}/60-vrx4.rules DESTINATION lib/udev/rules.d COMPONENT cli)
