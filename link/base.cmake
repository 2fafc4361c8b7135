target_sources(vrx4_core PRIVATE
  FrameExchange.cpp
  UsbDriver.cpp
  UsbLink.cpp
)
