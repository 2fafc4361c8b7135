# Man pages of the three programs, made from their --help and --version by
# help2man and compressed as Debian wants them. Their "Exit status:",
# "Files:" and "Examples:" paragraphs become the EXIT STATUS, FILES and
# EXAMPLES sections. Without help2man the build says so: the packages then
# carry no man pages.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
find_program(SED sed)
if(HELP2MAN AND GZIP AND SED)
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
        # help2man makes "Exit status:" a subsection; man pages have it as a
        # section of its own.
        COMMAND ${SED} -i "s/^\\.SS \"[Ee]xit status:\"$/.SH \"EXIT STATUS\"/" ${page}
        COMMAND ${GZIP} -9nf ${page}
        DEPENDS ${program}
        COMMENT "Man page of ${program}"
        VERBATIM)
      list(APPEND man_pages ${page}.gz)
      if(program STREQUAL "vrx4")
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
      else()
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
      endif()
    endif()
  endforeach()
  add_custom_target(vrx4_man_pages ALL DEPENDS ${man_pages})
else()
  message(WARNING "help2man, gzip or sed not found: no man pages are made, and the packages will carry none")
  add_custom_target(vrx4_man_pages)
endif()
