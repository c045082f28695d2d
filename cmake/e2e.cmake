# End-to-end suites: a private CUPS scheduler with the real cups-filters chain
# prints PDFs made at test time.  Both need root (cupsd) and skip otherwise.
#
#   e2e_options_reach_the_filter   prints into a probe that stands in for the
#       filter and records what arrives: PPD choices in the raster header,
#       copies, collation and sides in the arguments.
#   e2e_print_pdfs_through_cups    prints through rastertoZelvar and checks each
#       printer job with zelvar-inspect, page by page; compares the LineArt
#       mode's 8-bit grey with 24-bit RGB dot by dot (on a second queue); cancels
#       jobs on a queue with a file device and on one whose device is a backend
#       process.
#
# ctest runs them in the plain build and in the AddressSanitizer build, where
# cupsd runs the instrumented filter and a sanitizer report ends the filter
# with status 1 and fails the job; scripts/test.sh runs them in the latter only.  Under ThreadSanitizer a whole CUPS chain per job is too slow for the
# time budget of scripts/test.sh, so they do not run there.
add_executable(zelvar-raster-probe tests/e2e/raster_probe.cpp)
target_include_directories(zelvar-raster-probe PRIVATE ${CUPS_INCLUDE})
target_link_libraries(zelvar-raster-probe PRIVATE ${CUPSIMAGE_LIB} ${CUPS_LIB})

add_executable(zelvar-pbm-probe tests/e2e/pbm_probe.cpp)
target_link_libraries(zelvar-pbm-probe PRIVATE zelvar_testraster)

# A slow printer behind a backend process, for cancelling jobs through one.
add_executable(zelvar-test-backend tests/e2e/test_backend.cpp)

if(BUILD_TESTING AND NOT ZELVAR_SANITIZE MATCHES "thread")
  add_test(NAME e2e_options_reach_the_filter
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_probe.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  add_test(NAME e2e_print_pdfs_through_cups
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/e2e/run_e2e.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(e2e_options_reach_the_filter e2e_print_pdfs_through_cups PROPERTIES
    LABELS e2e
    TIMEOUT 900
    SKIP_RETURN_CODE 77
    # The longest tests: started first, beside the unit tests.
    COST 1000)
endif()
