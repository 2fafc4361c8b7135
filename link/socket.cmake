# The transport to a simulated unit in another process (vrx4-unitsim).
target_sources(vrx4_core PRIVATE
  SocketUsbDriver.cpp
)
