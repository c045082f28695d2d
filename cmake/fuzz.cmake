# Fuzzing: the entries that drive the filter from raw bytes (linked into the unit
# tests, which replay every finding kept under fuzz/regressions/), and with
# -DZELVAR_FUZZ=ON (clang only) the libFuzzer targets fuzz_raster_job,
# fuzz_job_arguments, fuzz_inspect and fuzz_jbig_encoder.  scripts/fuzz.sh configures and runs them.
file(GLOB ZELVAR_FUZZ_ENTRY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/entries/*.cpp)
add_library(zelvar_fuzz_entries STATIC ${ZELVAR_FUZZ_ENTRY_SOURCES})
target_include_directories(zelvar_fuzz_entries PUBLIC ${CMAKE_SOURCE_DIR}/fuzz/entries)
target_link_libraries(zelvar_fuzz_entries PUBLIC zelvar_engine zelvar_inspect zelvar_testraster)

if(BUILD_TESTING)
  target_link_libraries(zelvar_tests PRIVATE zelvar_fuzz_entries)
endif()

option(ZELVAR_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(ZELVAR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ZELVAR_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  # Coverage for the code under test; the sanitizers come from ZELVAR_SANITIZE.
  foreach(lib zelvar_jbig_reference zelvar_engine zelvar_inspect zelvar_testraster zelvar_fuzz_entries)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
  foreach(name raster_job job_arguments inspect jbig_encoder)
    add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/${name}_fuzzer.cpp)
    target_link_libraries(fuzz_${name} PRIVATE zelvar_fuzz_entries)
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
