# The PPD: compiled from ppd/zelvar.drv with CUPS's PPD compiler when it is
# available.  The compiled file is also kept as ppd/zelvar.ppd, which is what
# gets installed, so that the driver builds and installs without ppdc; a test
# makes sure the two never differ.
#   cmake --build build --target update-ppd   copies a fresh build over ppd/zelvar.ppd
find_program(ZELVAR_PPDC ppdc)
find_program(ZELVAR_CUPSTESTPPD cupstestppd)
set(ZELVAR_PPD_SOURCE ${CMAKE_SOURCE_DIR}/ppd/zelvar.ppd)

if(ZELVAR_PPDC)
  set(ZELVAR_PPD_BUILT ${CMAKE_BINARY_DIR}/ppd/zelvar.ppd)
  add_custom_command(
    OUTPUT ${ZELVAR_PPD_BUILT}
    COMMAND ${ZELVAR_PPDC} -d ${CMAKE_BINARY_DIR}/ppd ${CMAKE_SOURCE_DIR}/ppd/zelvar.drv
    DEPENDS ${CMAKE_SOURCE_DIR}/ppd/zelvar.drv
    COMMENT "Compiling the PPD from ppd/zelvar.drv"
    VERBATIM)
  add_custom_target(zelvar_ppd ALL DEPENDS ${ZELVAR_PPD_BUILT})
  add_custom_target(update-ppd
    COMMAND ${CMAKE_COMMAND} -E copy ${ZELVAR_PPD_BUILT} ${ZELVAR_PPD_SOURCE}
    DEPENDS ${ZELVAR_PPD_BUILT}
    COMMENT "Copying the compiled PPD to ppd/zelvar.ppd"
    VERBATIM)
else()
  message(WARNING "ppdc (Debian package cups-ppdc) not found: using ppd/zelvar.ppd as it is")
endif()

if(BUILD_TESTING)
  # Both tools come with the package lists; without them the tests fail rather
  # than vanish.
  if(ZELVAR_PPDC)
    add_test(NAME ppd_checked_in_copy_equals_the_compiled_driver_file
      COMMAND sh -c "diff -u \"$0\" \"$1\" || { echo 'ppd/zelvar.ppd differs from the compiled ppd/zelvar.drv: run cmake --build <dir> --target update-ppd'; exit 1; }"
              ${ZELVAR_PPD_SOURCE} ${ZELVAR_PPD_BUILT})
  else()
    add_test(NAME ppd_checked_in_copy_equals_the_compiled_driver_file
      COMMAND sh -c "echo 'ppdc not found (Debian package cups-ppdc)'; exit 1")
  endif()
  if(ZELVAR_CUPSTESTPPD)
    # The filter is not installed at build time, so its absence is only a warning
    # here; the install test checks the installed PPD with the filter in place.
    add_test(NAME ppd_passes_cupstestppd
      COMMAND ${ZELVAR_CUPSTESTPPD} -W filters ${ZELVAR_PPD_SOURCE})
  else()
    add_test(NAME ppd_passes_cupstestppd
      COMMAND sh -c "echo 'cupstestppd not found (Debian package cups-client)'; exit 1")
  endif()
endif()
