# Time from the first frame with a face to the first frame with its marker,
# with the real worker thread and frames arriving in real time.
add_executable(bench_detect_latency ${CMAKE_CURRENT_LIST_DIR}/bench_detect_latency.cpp)
target_include_directories(bench_detect_latency PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(bench_detect_latency PRIVATE QUELL_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/data"
  QUELL_DATA_DIR_FOR_BENCH="${QUELL_DATA_DIR}")
target_link_libraries(bench_detect_latency PRIVATE quellfx_core)
add_dependencies(bench_detect_latency quell_data)
