target_sources(vrx4_core PRIVATE
  LibUsbDriver.cpp
)
