target_sources(vrx4_core PRIVATE
  ImageTransfer.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    CTransferDlg.cpp
  )
endif()
