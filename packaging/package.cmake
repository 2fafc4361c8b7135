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
# Installing the package makes udev read the new rule; a unit already
# plugged in needs to be plugged in again.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
