# The Printer Application, zelvar-printer-app: the printer as an IPP Everywhere
# printer on PAPPL, printing through rastertoZelvar run as a child process.
#
#   zelvar_app_core      the parts without PAPPL (printer tables, job settings,
#                        the filter's raster pages, the child process), shared
#                        with the unit tests
#   zelvar-printer-app   the PAPPL front end
find_package(PkgConfig REQUIRED)
pkg_check_modules(PAPPL REQUIRED IMPORTED_TARGET pappl)

set(ZELVAR_APP_VERSION "1.0")
add_library(zelvar_app_core STATIC
  src/printer_app/printer_table.cpp
  src/printer_app/job_settings.cpp
  src/printer_app/child_page.cpp
  src/printer_app/filter_child.cpp)
target_include_directories(zelvar_app_core PUBLIC src ${CUPS_INCLUDE})
target_link_libraries(zelvar_app_core PUBLIC zelvar_engine Threads::Threads)

add_executable(zelvar-printer-app
  src/printer_app/main.cpp
  src/printer_app/pappl_driver.cpp
  src/printer_app/pappl_job.cpp)
target_link_libraries(zelvar-printer-app PRIVATE zelvar_app_core PkgConfig::PAPPL)
# The filter the application runs unless $ZELVAR_FILTER_PATH names another: the
# one the install rules put into CUPS's filter directory.
target_compile_definitions(zelvar-printer-app PRIVATE
  ZELVAR_APP_VERSION="${ZELVAR_APP_VERSION}"
  ZELVAR_FILTER_INSTALL_PATH="${ZELVAR_CUPS_FILTER_DIR}/rastertoZelvar")

if(BUILD_TESTING)
  target_link_libraries(zelvar_tests PRIVATE zelvar_app_core)
endif()

# Installed beside the inspector, with its systemd unit; the unit names the
# application where this install puts it (the prefix is known only then).
install(TARGETS zelvar-printer-app
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PERMISSIONS ${_zelvar_program_permissions})
install(FILES ${CMAKE_SOURCE_DIR}/man/zelvar-printer-app.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(CODE "
  set(ZELVAR_APP_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/zelvar-printer-app\")
  configure_file(\"${CMAKE_SOURCE_DIR}/src/printer_app/zelvar-printer-app.service.in\"
                 \"${CMAKE_BINARY_DIR}/install/zelvar-printer-app.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/install/zelvar-printer-app.service
  DESTINATION ${ZELVAR_SYSTEMD_UNIT_DIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# End-to-end suites of the application, each with a private server on a free
# loopback port and its state in a scratch directory:
#   e2e_app_ipp_clients   CUPS's ipptool suites (get-printer-attributes,
#       ipp-everywhere with sample rasters made at test time) and jobs sent over
#       IPP: attributes, defaults, malformed and 1-bit rasters, a cancel, two
#       printers at once, a failing filter
#   e2e_app_through_cups  a private cupsd with a driverless queue on the
#       application prints PDFs (options, copies, two-sided, colour, a cancel)
# Every printer job is checked with zelvar-inspect.  They run in the plain and
# the AddressSanitizer build (where the application and the filter it runs are
# the instrumented ones; scripts/test.sh runs them there only); not under
# ThreadSanitizer, for the time they would take.
if(BUILD_TESTING AND NOT ZELVAR_SANITIZE MATCHES "thread")
  add_test(NAME e2e_app_ipp_clients
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_app_ipp.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  add_test(NAME e2e_app_through_cups
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_app_cups.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(e2e_app_ipp_clients e2e_app_through_cups PROPERTIES
    LABELS e2e
    TIMEOUT 900
    SKIP_RETURN_CODE 77
    # The longest tests: started first, beside the unit tests.
    COST 1000)
endif()
