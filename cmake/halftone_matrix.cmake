# The generator of the screen's threshold matrix (src/image/halftone_matrix.cpp).
# `cmake --build build --target regenerate-halftone-matrix` rewrites the table;
# the test below fails when the checked-in table is not the generator's output.
add_executable(make-halftone-matrix
  tools/halftone_matrix/make_halftone_matrix.cpp src/image/tone_curve.cpp)
target_include_directories(make-halftone-matrix PRIVATE src)
target_link_libraries(make-halftone-matrix PRIVATE m)

add_custom_target(regenerate-halftone-matrix
  COMMAND make-halftone-matrix ${CMAKE_SOURCE_DIR}/src/image/halftone_matrix.cpp
  DEPENDS make-halftone-matrix
  COMMENT "Regenerating src/image/halftone_matrix.cpp"
  VERBATIM)

if(BUILD_TESTING)
  add_test(NAME HalftoneMatrix.GeneratedTableIsUpToDate
    COMMAND make-halftone-matrix --check ${CMAKE_SOURCE_DIR}/src/image/halftone_matrix.cpp)
endif()
