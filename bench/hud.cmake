# The frame step with the overlay on and one face, against the grey-conversion
# floor, and the overlay's parts on their own.
add_executable(bench_hud ${CMAKE_CURRENT_LIST_DIR}/bench_hud.cpp)
target_include_directories(bench_hud PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(bench_hud PRIVATE QUELL_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/data")
target_link_libraries(bench_hud PRIVATE quellfx_core)
add_dependencies(bench_hud quell_data)
