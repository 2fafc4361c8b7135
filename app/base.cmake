target_sources(vrx4_core PRIVATE
  Clock.cpp
  DeviceDef.cpp
  Log.cpp
  Prompter.cpp
  StartupMessage.cpp
)

if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    CQtPrompter.cpp
  )
endif()
