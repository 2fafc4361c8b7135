if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    CQtPrompter.cpp
  )
endif()
