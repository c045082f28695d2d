# Install rules for the driver (filter, PPD, inspector, their manual pages); the
# Printer Application's are in printer_app.cmake.
#
# CUPS runs filters named in a PPD from its own filter directory only
# (`cups-config --serverbin`/filter, an absolute path whatever the prefix), and
# the scheduler refuses filters that root does not own or that group or others
# may write; so install as root, or into DESTDIR for a package.  The PPD goes
# where cups-driverd looks for models (<prefix>/share/ppd, searched for
# /usr/share/ppd and /usr/local/share/ppd), so that `lpinfo -m` lists it.
include(GNUInstallDirs)

find_program(ZELVAR_CUPS_CONFIG cups-config)
set(_zelvar_serverbin /usr/lib/cups)
if(ZELVAR_CUPS_CONFIG)
  execute_process(COMMAND ${ZELVAR_CUPS_CONFIG} --serverbin
    OUTPUT_VARIABLE _zelvar_serverbin OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(ZELVAR_CUPS_FILTER_DIR "${_zelvar_serverbin}/filter" CACHE PATH
  "Directory of CUPS filters (cups-config --serverbin, then /filter)")
# Relative to the install prefix, so that `cmake --install --prefix /usr` puts it
# under /usr/share/ppd as it puts the inspector under /usr/bin.
set(ZELVAR_PPD_DESTINATION "${CMAKE_INSTALL_DATADIR}/ppd/zelvar" CACHE PATH
  "Directory for the PPD, where cups-driverd finds it; relative to the install prefix")
if(IS_ABSOLUTE "${ZELVAR_PPD_DESTINATION}")
  set(_zelvar_ppd_full_dir "${ZELVAR_PPD_DESTINATION}")
else()
  set(_zelvar_ppd_full_dir "${CMAKE_INSTALL_PREFIX}/${ZELVAR_PPD_DESTINATION}")
endif()

# The Printer Application's systemd unit (installed with the application, see
# printer_app.cmake): relative to the prefix, so that --prefix /usr gives
# /usr/lib/systemd/system.
set(ZELVAR_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE PATH
  "Directory for the Printer Application's systemd unit; relative to the install prefix")
if(IS_ABSOLUTE "${ZELVAR_SYSTEMD_UNIT_DIR}")
  set(_zelvar_unit_full_dir "${ZELVAR_SYSTEMD_UNIT_DIR}")
else()
  set(_zelvar_unit_full_dir "${CMAKE_INSTALL_PREFIX}/${ZELVAR_SYSTEMD_UNIT_DIR}")
endif()

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(_zelvar_program_permissions
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS rastertoZelvar
  RUNTIME DESTINATION ${ZELVAR_CUPS_FILTER_DIR}
  PERMISSIONS ${_zelvar_program_permissions})
install(FILES ${CMAKE_SOURCE_DIR}/ppd/zelvar.ppd
  DESTINATION ${ZELVAR_PPD_DESTINATION}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS zelvar-inspect
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PERMISSIONS ${_zelvar_program_permissions})
install(FILES ${CMAKE_SOURCE_DIR}/man/rastertoZelvar.8
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man8
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${CMAKE_SOURCE_DIR}/man/zelvar-inspect.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# An installed filter that cupsd would refuse is worth a word at install time.
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    execute_process(COMMAND stat -c %u \"${ZELVAR_CUPS_FILTER_DIR}/rastertoZelvar\"
      OUTPUT_VARIABLE _owner OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT _owner STREQUAL \"0\")
      message(WARNING \"${ZELVAR_CUPS_FILTER_DIR}/rastertoZelvar is not owned by root; cupsd will not run it\")
    endif()
  endif()")

if(BUILD_TESTING)
  add_test(NAME install_puts_filter_ppd_and_inspector_where_cups_finds_them
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install_layout_test.sh
            ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${ZELVAR_CUPS_FILTER_DIR} ${_zelvar_ppd_full_dir}
            ${CMAKE_INSTALL_FULL_BINDIR} ${_zelvar_unit_full_dir} ${CMAKE_INSTALL_FULL_MANDIR})
endif()
