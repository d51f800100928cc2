# Whole pipelines on a moving-face clip: identity, quellfx and the stock face
# detector between the same decoder and sink, quiet and with one core busy.
pkg_check_modules(QUELL_BENCH_GST_APP REQUIRED IMPORTED_TARGET gstreamer-app-1.0)
add_executable(bench_pipelines ${CMAKE_CURRENT_LIST_DIR}/bench_pipelines.cpp)
target_include_directories(bench_pipelines PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(bench_pipelines PRIVATE QUELL_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/data"
                                                   QUELL_BENCH_CLIP_DIR="${CMAKE_BINARY_DIR}/bench-clips")
target_link_libraries(bench_pipelines PRIVATE PkgConfig::QUELL_BENCH_GST_APP PkgConfig::GST ${OpenCV_LIBS})
add_dependencies(bench_pipelines gstquellfx quell_data)
