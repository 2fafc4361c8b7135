# The stop request (signals) that ends the program whatever window is open.
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ProgramStop.cpp
  )
endif()
