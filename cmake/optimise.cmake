# The per-pixel loops of the filter are built at -O3, whatever the build type
# (the sanitizer builds too, so they test the code that ships).  Their hot
# functions carry target_clones: a baseline and an AVX2 build of the same source,
# chosen at load time, since a distribution package targets the baseline CPU.
# Floating-point contraction stays off so that the scaler's single-precision
# steps round exactly as written in every clone.
set(ZELVAR_HOT_SOURCES
  src/driver/raster_page.cpp
  src/image/bit_ops.cpp
  src/image/crop_scale.cpp
  src/image/halftone.cpp
  src/image/line_art.cpp
  src/output/jbig_encoder.cpp)
if(ZELVAR_SANITIZE MATCHES "thread")
  # The clones' load-time resolvers run before ThreadSanitizer's runtime is up and
  # crash under it, so the TSan build keeps only the baseline loops.  That build
  # thereby tests them; the others test the clone this processor picks.
  target_compile_definitions(zelvar_engine PRIVATE ZELVAR_BASELINE_ONLY)
endif()
set_source_files_properties(${ZELVAR_HOT_SOURCES} TARGET_DIRECTORY zelvar_engine
  PROPERTIES COMPILE_OPTIONS "-O3;-ffp-contract=off")
