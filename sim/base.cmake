target_sources(vrx4_core PRIVATE
  SimulatedUnit.cpp
  SimUsbDriver.cpp
)
