target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/LineReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramLoader.cpp
)
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BootFileReader.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CLoadConfirmDlg.cpp
  )
endif()
