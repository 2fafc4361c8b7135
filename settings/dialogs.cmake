if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CBlockSettingDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CBlockSettingDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/CCanSettingDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CCanSettingDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/CCheckListCtrl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CCheckListCtrl.h
    ${CMAKE_CURRENT_LIST_DIR}/CDropDownList.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CDropDownList.h
    ${CMAKE_CURRENT_LIST_DIR}/CDeviceDetailDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CDeviceDetailDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/CHighlightListCtrl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CHighlightListCtrl.h
    ${CMAKE_CURRENT_LIST_DIR}/CSetIdDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSetIdDlg.h
  )
endif()
