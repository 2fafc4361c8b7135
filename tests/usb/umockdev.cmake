# The umockdev harness (emulated USB devices below libusb), shared by the
# folders whose tests run under umockdev-wrapper. Included from each of them;
# defines its targets once.
include_guard(GLOBAL)

pkg_check_modules(UMOCKDEV QUIET IMPORTED_TARGET GLOBAL umockdev-1.0)
find_program(UMOCKDEV_WRAPPER umockdev-wrapper)

if(UMOCKDEV_FOUND)
  add_library(vrx4_umockdev_unit STATIC ${CMAKE_CURRENT_LIST_DIR}/UmockdevUnit.cpp)
  target_include_directories(vrx4_umockdev_unit PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(vrx4_umockdev_unit PUBLIC vrx4_core PkgConfig::UMOCKDEV)
endif()

# vrx4_add_umockdev_test(NAME TARGET): runs TARGET under umockdev-wrapper.
# A test binary exits 77 when it does not find itself under umockdev, and so
# does the test when umockdev is not installed; CTest counts that as skipped.
function(vrx4_add_umockdev_test name target)
  if(TARGET ${target} AND UMOCKDEV_WRAPPER)
    add_test(NAME ${name} COMMAND ${UMOCKDEV_WRAPPER} $<TARGET_FILE:${target}>)
  elseif(TARGET ${target})
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${target}>)
  else()
    add_test(NAME ${name} COMMAND sh -c "echo 'umockdev is not installed: skipped'; exit 77")
  endif()
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
  if(VRX4_SANITIZE)
    # The umockdev preload library comes before the sanitizer runtime.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "ASAN_OPTIONS=verify_asan_link_order=0")
  endif()
endfunction()
