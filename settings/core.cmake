target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BlockSettingRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CanDialogRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CanTiming.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceDetailTexts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IdCodeRules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListRules.cpp
)
