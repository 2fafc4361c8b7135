target_sources(vrx4_core PRIVATE
  Commands.cpp
)
