# The libusb transport, one class in four files: its context and event
# thread (LibUsbDriver), discovery, pipes and transfers, and hotplug.
target_sources(vrx4_core PRIVATE
  LibUsbDiscovery.cpp
  LibUsbDriver.cpp
  LibUsbHotplug.cpp
  LibUsbPipes.cpp
)
