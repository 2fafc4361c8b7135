# The Debian packages, one per install component: cpack
# (scripts/package.sh) makes vrx4-cli_<version>_amd64.deb (the command
# line, the simulator, the device table, the firmware file, the USB rule
# and their man pages; no Qt, for a headless bench) and
# vrx4_<version>_amd64.deb (the window, its desktop files and manuals;
# depends on vrx4-cli). Library dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vrx4)
set(CPACK_PACKAGE_VENDOR "Velmora Inc.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program of the T552-VRX4 CAN flash programmer")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Programs the on-chip flash of microcontrollers through the T552-VRX4 unit\n"
  "attached over USB: device table, HEX and S-record files, CAN settings,\n"
  "blocks, lock bits and ID code, Erase/Program/Verify and Read, project\n"
  "files, a hex editor, the unit's firmware update, a simulated unit and a\n"
  "command-line tool.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora Inc. <support@velmora.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli gui)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME vrx4-cli)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME vrx4)
set(CPACK_DEBIAN_CLI_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_GUI_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "vrx4-cli (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_CLI_DESCRIPTION "T552-VRX4 jobs from the command line, and a simulated unit\n"
  "vrx4-cli programs and reads targets through the unit without a window\n"
  "(job records, gangs of units); vrx4-unitsim serves a simulated unit.")
set(CPACK_COMPONENT_GUI_DESCRIPTION "control program of the T552-VRX4 CAN flash programmer\n"
  "The window: device table, program files, CAN settings, blocks, lock\n"
  "bits and ID code, operations, project files, hex editor, firmware update.")
# Installing vrx4-cli (which holds the rule) makes udev read the new rule
# and replay the "add" event of a unit already plugged in; the script names
# the unit's IDs.
string(REPLACE ":" ";" vrx4_rule_ids "${VRX4_USB_ID_TEXT}")
list(GET vrx4_rule_ids 0 VRX4_RULE_VENDOR)
list(GET vrx4_rule_ids 1 VRX4_RULE_PRODUCT)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst.in ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst
  @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
