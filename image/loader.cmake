# The program file loader: the line reader, the Intel HEX and S-record
# parsers (RecordFields.h is what they share) and the loader that drives them.
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/HexRecordParser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramLoader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SRecordParser.cpp
)
target_sources(vrx4_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BootFileReader.cpp
)
if(VRX4_BUILD_GUI)
  target_sources(vrx4_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CLoadConfirmDlg.cpp
  )
endif()
