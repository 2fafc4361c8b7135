target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ProgramSaver.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CSaveFileDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSaveProgressDlg.cpp
  )
endif()
