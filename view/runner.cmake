target_sources(vrx4_core PRIVATE
  OperationRunner.cpp
  OperationStart.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    CProgrammingDlg.cpp
  )
endif()
