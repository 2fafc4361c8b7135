# The Debian package: cpack (scripts/package.sh) makes
# vrx4_<version>_amd64.deb from the installed layout, its library
# dependencies found by dpkg-shlibdeps.
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
# Installing the package makes udev read the new rule and replay the "add"
# event of a unit already plugged in; the script names the unit's IDs.
string(REPLACE ":" ";" vrx4_rule_ids "${VRX4_USB_ID_TEXT}")
list(GET vrx4_rule_ids 0 VRX4_RULE_VENDOR)
list(GET vrx4_rule_ids 1 VRX4_RULE_PRODUCT)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst.in ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst
  @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
