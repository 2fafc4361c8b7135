# The program's icon, drawn from packaging/vrx4.svg (the same file the
# desktop menu shows).
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/AppIcon.cpp
    ${CMAKE_CURRENT_LIST_DIR}/icon.qrc
  )
  target_link_libraries(vrx4_gui PUBLIC Qt6::Svg)
endif()
