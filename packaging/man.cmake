# Man pages of the three programs, made from their --help and --version by
# help2man and compressed as Debian wants them (skipped when help2man is
# missing; the package then has none).
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
  set(man_pages)
  set(vrx4_man_name "T552-VRX4 control program")
  set(vrx4-cli_man_name "T552-VRX4 jobs from the command line")
  set(vrx4-unitsim_man_name "simulated T552-VRX4 unit")
  foreach(program vrx4 vrx4-cli vrx4-unitsim)
    if(TARGET ${program})
      set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
      add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${HELP2MAN} --no-info --no-discard-stderr --section=1
                "--name=${${program}_man_name}" --output=${page} $<TARGET_FILE:${program}>
        COMMAND ${GZIP} -9nf ${page}
        DEPENDS ${program}
        COMMENT "Man page of ${program}"
        VERBATIM)
      list(APPEND man_pages ${page}.gz)
      install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
  endforeach()
  add_custom_target(vrx4_man_pages ALL DEPENDS ${man_pages})
endif()
