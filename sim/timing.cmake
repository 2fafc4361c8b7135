# The simulated unit's timing model, also used for estimates of a job.
target_sources(vrx4_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/OperationTiming.cpp)
