# The tools' man pages: man/TOOL.1.in filled with the version, the date and
# the exit-status table the tools share (man/exit-status.man), then
# installed. Written by hand, so each page is laid out as a man page; the
# docs test checks that every option of a tool's --help has its item.
function(wendle_man_pages)
  set(source ${PROJECT_SOURCE_DIR}/man)
  # SOURCE_DATE_EPOCH, when set, gives the date (scripts/package_deb sets it).
  string(TIMESTAMP WENDLE_MAN_DATE "%Y-%m-%d" UTC)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source}/exit-status.man)
  file(READ ${source}/exit-status.man WENDLE_EXIT_STATUS)
  string(STRIP "${WENDLE_EXIT_STATUS}" WENDLE_EXIT_STATUS)
  set(pages)
  foreach(tool ${ARGN})
    configure_file(${source}/${tool}.1.in ${CMAKE_CURRENT_BINARY_DIR}/man/${tool}.1 @ONLY)
    list(APPEND pages ${CMAKE_CURRENT_BINARY_DIR}/man/${tool}.1)
  endforeach()
  include(GNUInstallDirs)
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
