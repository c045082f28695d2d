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
