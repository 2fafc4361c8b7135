target_sources(vrx4_core PRIVATE
  FirmwareUpdate.cpp
  UnitCheck.cpp
  UsbAccess.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    CUnitDialogs.cpp
  )
endif()
