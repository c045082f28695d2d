# The encoder benchmark (bench/jbig_encode_bench.cpp): both JBIG encoders alone on
# the pages of printer jobs; bench/run.sh builds and runs it.
add_executable(zelvar-jbig-bench bench/jbig_encode_bench.cpp)
target_link_libraries(zelvar-jbig-bench PRIVATE zelvar_engine zelvar_inspect)
