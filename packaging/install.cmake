# The installed layout: the programs in bin/, what they read in
# share/vrx4/ (found there through ../share/vrx4/ from the executable), the
# desktop entry, icon and metainfo in their standard places.
include(GNUInstallDirs)

# Two components, two Debian packages: "cli" (vrx4-cli, the simulator, the
# data files, the rule and their man pages; no Qt) and "gui" (the window,
# its desktop files and manuals).
if(TARGET vrx4)
  install(TARGETS vrx4 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
endif()
foreach(program vrx4-cli vrx4-unitsim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
  endif()
endforeach()
# data/ installs the data files and the USB access rule, docs/manual/ the
# manuals.

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/com.velmora.vrx4.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/vrx4.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT gui)
string(TOUPPER "${VRX4_USB_ID_TEXT}" usb_id)
string(REPLACE ":" ";" usb_id "${usb_id}")
list(GET usb_id 0 VRX4_RULE_VENDOR_UPPER)
list(GET usb_id 1 VRX4_RULE_PRODUCT_UPPER)
set(VRX4_METAINFO ${CMAKE_CURRENT_BINARY_DIR}/com.velmora.vrx4.metainfo.xml)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/com.velmora.vrx4.metainfo.xml.in ${VRX4_METAINFO} @ONLY)
install(FILES ${VRX4_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT gui)
