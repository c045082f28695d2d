# The fault-injection library the tests preload into the filter binary
# (tests/preload/fault_preload.cpp).  It is built without sanitizers whatever the
# build's: it only forwards to the C library, or to the sanitizer runtime that
# stands in for it.
if(BUILD_TESTING)
  add_library(zelvar_fault_preload SHARED ${CMAKE_SOURCE_DIR}/tests/preload/fault_preload.cpp)
  set_property(TARGET zelvar_fault_preload PROPERTY COMPILE_OPTIONS -Wall -Wextra -fno-sanitize=all)
  set_property(TARGET zelvar_fault_preload PROPERTY LINK_OPTIONS "")
  target_link_libraries(zelvar_fault_preload PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(zelvar_tests zelvar_fault_preload)
  target_compile_definitions(zelvar_tests PRIVATE
    ZELVAR_FAULT_PRELOAD_PATH="$<TARGET_FILE:zelvar_fault_preload>")
endif()
