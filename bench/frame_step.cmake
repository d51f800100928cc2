# The frame step with the overlay on and one face, against the grey-conversion
# floor, and the overlay's parts on their own.
add_executable(bench_frame_step ${CMAKE_CURRENT_LIST_DIR}/bench_frame_step.cpp)
target_include_directories(bench_frame_step PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(bench_frame_step PRIVATE QUELL_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/data")
target_link_libraries(bench_frame_step PRIVATE quellfx_core)
add_dependencies(bench_frame_step quell_data)
